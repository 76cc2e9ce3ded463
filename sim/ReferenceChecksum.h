// The devices' own computation of the 128-bit image checksum, written
// independently of the tool's (straight from the register's definition, the
// register held as bit sets), so that a fault in either shows as a failed
// verification.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The checksum of data arriving piece by piece, as a bootloader computes it
// while the image comes in, without keeping the image.
class ReferenceChecksummer {
public:
    // Skips the first skip bytes of everything added (an image header).
    explicit ReferenceChecksummer(std::size_t skip = 0) : skipLeft(skip) {}

    void Add(const std::uint8_t* data, std::size_t n);
    // The checksum of what was added so far: the last partial block filled
    // with 0xFF, then whole 0xFF blocks while fewer than padSize bytes were
    // absorbed. More data may still be added afterwards.
    std::array<std::uint8_t, 16> Value(long long padSize = 0) const;

private:
    // Register bits 0-63 and 64-127.
    struct Register {
        std::bitset<64> low;
        std::bitset<64> high;
        bool operator[](int bit) const { return bit < 64 ? low[bit] : high[bit - 64]; }
    };
    static void Clock(Register& r, const std::uint8_t* block);

    Register r;
    std::size_t skipLeft;
    long long absorbed = 0;
    std::array<std::uint8_t, 16> partial{};
    std::size_t partialLength = 0;
};

// Checksum of data, absorbed in 16-byte blocks with the last one filled with
// 0xFF; then whole 0xFF blocks while fewer than padSize bytes were absorbed.
std::array<std::uint8_t, 16> ReferenceChecksum(const std::vector<std::uint8_t>& data,
                                               long long padSize = 0);

}  // namespace sim
