// The 128-bit image checksum register: a Fibonacci shift register with
// feedback polynomial x^128 + x^29 + x^27 + x^2 + 1, clocked once per 16-byte
// block, with the block added into the register after the shift.
#pragma once

#include <cstdint>

class Lfsr128 {
public:
    void Reset() { lo = 0; hi = 0; }
    // block: 16 bytes, read as a little-endian 128-bit number.
    void Absorb(const std::uint8_t* block) {
        std::uint64_t dlo = 0;
        std::uint64_t dhi = 0;
        for (int i = 7; i >= 0; --i) {
            dlo = (dlo << 8) | block[i];
            dhi = (dhi << 8) | block[8 + i];
        }
        const std::uint64_t feedback = (lo ^ (lo >> 2) ^ (lo >> 27) ^ (lo >> 29)) & 1u;
        const std::uint64_t newLo = dlo ^ (lo >> 1) ^ (hi << 63);
        const std::uint64_t newHi = (dhi ^ (hi >> 1)) ^ (feedback << 63);
        lo = newLo;
        hi = newHi;
    }
    // The 16 value bytes, least significant first.
    void GetValue(std::uint8_t* out) const {
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<std::uint8_t>(lo >> (8 * i));
            out[8 + i] = static_cast<std::uint8_t>(hi >> (8 * i));
        }
    }

private:
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
};
