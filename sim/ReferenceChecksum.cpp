#include "sim/ReferenceChecksum.h"

#include <bitset>

namespace sim {

namespace {

using Register = std::bitset<128>;

void Clock(Register& r, const std::uint8_t* block) {
    const bool feedback = r[0] ^ r[2] ^ r[27] ^ r[29];
    r >>= 1;
    r[127] = feedback;
    for (int bit = 0; bit < 128; ++bit) {
        if ((block[bit / 8] >> (bit % 8)) & 1) {
            r.flip(bit);
        }
    }
}

}  // namespace

std::array<std::uint8_t, 16> ReferenceChecksum(const std::vector<std::uint8_t>& data,
                                               long long padSize) {
    Register r;
    long long absorbed = 0;
    std::size_t at = 0;
    while (at < data.size() || (padSize != 0 && absorbed < padSize)) {
        std::uint8_t block[16];
        for (int i = 0; i < 16; ++i) {
            block[i] = at + i < data.size() ? data[at + i] : 0xFF;
        }
        Clock(r, block);
        at += 16;
        absorbed += 16;
    }
    std::array<std::uint8_t, 16> value{};
    for (int bit = 0; bit < 128; ++bit) {
        if (r[bit]) {
            value[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        }
    }
    return value;
}

}  // namespace sim
