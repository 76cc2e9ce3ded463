#include "sim/RadioFlashModel.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;

}  // namespace

RadioFlashModel::RadioFlashModel(std::uint32_t size) : size(size) {}

Bytes& RadioFlashModel::Cells() const {
    if (memory.empty()) {
        memory.assign(size, kErased);
    }
    return memory;
}

bool RadioFlashModel::Contains(std::uint32_t address, std::size_t length) const {
    return address <= size && length <= size - address;
}

bool RadioFlashModel::Write(std::uint32_t address, const Bytes& data) {
    if (!Contains(address, data.size())) {
        return false;
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint8_t& cell = Cells()[address + i];
        cell &= data[i];
        corruptedBytes += cell != data[i] ? 1 : 0;
    }
    bytesWritten += data.size();
    return true;
}

bool RadioFlashModel::ErasePage(std::uint32_t address) {
    const std::uint32_t page = address / kPageSize * kPageSize;
    if (!Contains(page, kPageSize)) {
        return false;
    }
    if (!memory.empty()) {
        std::fill_n(memory.begin() + page, kPageSize, kErased);
    }
    pagesErased.push_back(page);
    return true;
}

void RadioFlashModel::EraseAll() {
    memory.clear();
    ++chipErases;
}

void RadioFlashModel::Fill(const Bytes& content) {
    Bytes& cells = Cells();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = content.empty() ? kErased : content[i % content.size()];
    }
}

Bytes RadioFlashModel::Read(std::uint32_t address, std::size_t length) const {
    if (!Contains(address, length)) {
        return {};
    }
    const Bytes& cells = Cells();
    return Bytes(cells.begin() + address, cells.begin() + address + length);
}

}  // namespace sim
