#include "testsupport/DongleMemory.h"

#include <algorithm>

#include "sim/DongleBootloaderModel.h"

namespace {

constexpr std::uint8_t kErased = 0xFF;

Bytes Erased(std::size_t size, const Bytes& bytes) {
    Bytes memory(size, kErased);
    std::copy_n(bytes.begin(), std::min(bytes.size(), size), memory.begin());
    return memory;
}

}  // namespace

Bytes DonglePage(const Bytes& bytes) {
    return Erased(sim::DongleBootloaderModel::kPageSize, bytes);
}

Bytes DongleMemoryWith(const Bytes& image) {
    using sim::DongleBootloaderModel;
    return Erased(DongleBootloaderModel::kPages * DongleBootloaderModel::kPageSize, image);
}
