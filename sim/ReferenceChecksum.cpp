#include "sim/ReferenceChecksum.h"

#include <algorithm>

namespace sim {

void ReferenceChecksummer::Clock(Register& r, const std::uint8_t* block) {
    const bool feedback = r[0] ^ r[2] ^ r[27] ^ r[29];
    // The whole register moves one bit down; the feedback enters at bit 127.
    r.low >>= 1;
    r.low[63] = r.high[0];
    r.high >>= 1;
    r.high[63] = feedback;
    // Then the block is added: a 128-bit number, least significant byte first.
    unsigned long long low = 0;
    unsigned long long high = 0;
    for (int i = 7; i >= 0; --i) {
        low = (low << 8) | block[i];
        high = (high << 8) | block[8 + i];
    }
    r.low ^= std::bitset<64>(low);
    r.high ^= std::bitset<64>(high);
}

void ReferenceChecksummer::Add(const std::uint8_t* data, std::size_t n) {
    const std::size_t skipped = std::min(skipLeft, n);
    skipLeft -= skipped;
    for (std::size_t at = skipped; at < n;) {
        const std::size_t take = std::min(n - at, partial.size() - partialLength);
        std::copy(data + at, data + at + take, partial.begin() + static_cast<long>(partialLength));
        partialLength += take;
        at += take;
        if (partialLength == partial.size()) {
            Clock(r, partial.data());
            absorbed += 16;
            partialLength = 0;
        }
    }
}

std::array<std::uint8_t, 16> ReferenceChecksummer::Value(long long padSize) const {
    Register result = r;
    long long total = absorbed;
    std::array<std::uint8_t, 16> block{};
    block.fill(0xFF);
    if (partialLength > 0) {
        std::copy(partial.begin(), partial.begin() + static_cast<long>(partialLength), block.begin());
        Clock(result, block.data());
        total += 16;
        block.fill(0xFF);
    }
    while (padSize != 0 && total < padSize) {
        Clock(result, block.data());
        total += 16;
    }
    std::array<std::uint8_t, 16> value{};
    for (int bit = 0; bit < 128; ++bit) {
        if (result[bit]) {
            value[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        }
    }
    return value;
}

std::array<std::uint8_t, 16> ReferenceChecksum(const std::vector<std::uint8_t>& data,
                                               long long padSize) {
    ReferenceChecksummer checksummer;
    checksummer.Add(data.data(), data.size());
    return checksummer.Value(padSize);
}

}  // namespace sim
