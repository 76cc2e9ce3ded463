// The 128-bit image checksum register: a Fibonacci shift register with
// feedback polynomial x^128 + x^29 + x^27 + x^2 + 1, clocked once per 16-byte
// block, with the block added into the register after the shift.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The register's value: the image checksum, 16 bytes.
constexpr std::uint32_t kImageChecksumLength = 16;

class Lfsr128 {
public:
    void Reset() { lo = 0; hi = 0; }

    // block: 16 bytes, read as a little-endian 128-bit number.
    void Absorb(const std::uint8_t* block) {
        const std::uint64_t dlo = LoadLittleEndian(block);
        const std::uint64_t dhi = LoadLittleEndian(block + 8);
        const std::uint64_t newLo = dlo ^ (lo >> 1) ^ (hi << 63);
        const std::uint64_t newHi = dhi ^ (hi >> 1) ^ FeedbackAtTop(lo);
        lo = newLo;
        hi = newHi;
    }

    // The same as Absorb on each of count consecutive blocks, only faster. A
    // feedback bit enters the register at its top and needs 64 clocks to
    // reach the low half, so for 64 clocks the low half does not depend on
    // the feedback computed meanwhile: those bits are gathered in a word of
    // their own and merged into the high half after the 64th clock. That
    // leaves each clock short chains the processor can overlap, instead of
    // one long one through the feedback. Where the processor has 256-bit
    // vectors, four such runs go side by side (Lfsr128.cpp).
    void AbsorbBlocks(const std::uint8_t* blocks, std::size_t count);

    // The 16 value bytes, least significant first.
    void GetValue(std::uint8_t* out) const {
        for (int i = 0; i < 8; ++i) {
            out[i] = static_cast<std::uint8_t>(lo >> (8 * i));
            out[8 + i] = static_cast<std::uint8_t>(hi >> (8 * i));
        }
    }

private:
    // Runs of 64 blocks, one at a time; returns the blocks left over.
    std::size_t AbsorbRuns(const std::uint8_t*& blocks, std::size_t count);
    // Four runs of 64 blocks at a time; returns the blocks left over.
    std::size_t AbsorbFourRuns(const std::uint8_t*& blocks, std::size_t count);
    // 64 clocks without data.
    void ClockZeroRun();

    static std::uint64_t LoadLittleEndian(const std::uint8_t* bytes) {
        std::uint64_t value = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&value, bytes, sizeof value);
        } else {
            for (int i = 7; i >= 0; --i) {
                value = (value << 8) | bytes[i];
            }
        }
        return value;
    }

    // The feedback bit (register bits 0, 2, 27 and 29 added) as bit 63 of a
    // word, the rest zero. One multiplication gathers the four tapped bits
    // into bit 63: their sum lands there, and the other partial products are
    // too few and too low to carry into it.
    static std::uint64_t FeedbackAtTop(std::uint64_t low) {
        constexpr std::uint64_t kTaps = (1ull << 0) | (1ull << 2) | (1ull << 27) | (1ull << 29);
        constexpr std::uint64_t kGather = (1ull << 63) | (1ull << 61) | (1ull << 36) | (1ull << 34);
        return ((low & kTaps) * kGather) & (1ull << 63);
    }

    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
};
