// Bytes for tests, fuzz targets and benchmarks: deterministic patterns that
// differ from position to position, bytes written as hexadecimal text, and
// the reverse.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimWorld.h"

using Bytes = sim::Bytes;
// The 16 bytes of an image checksum, in the order the register delivers them.
using Checksum128 = std::array<std::uint8_t, 16>;

// A stream of pattern bytes, for files too large to hold at once.
class PatternGenerator {
public:
    explicit PatternGenerator(std::uint32_t seed);
    void Fill(std::uint8_t* data, std::size_t size);

private:
    std::uint32_t state;
};

// The first `size` bytes of the pattern of that seed.
Bytes PatternBytes(std::size_t size, std::uint32_t seed = 1);

// "5E 71 d2 3a" or "5e71d23a": the bytes the hexadecimal digits spell.
Bytes HexBytes(const std::string& hex);

// A report as the device receives it: the bytes the digits spell, zeros to 64.
Bytes ReportBytes(const std::string& hex);

// Two lowercase digits a byte, with the separator and prefix around each:
// HexDigits(c, "", "") is "0aff...", HexDigits(c, ", ", "0x") is "0x0a, 0xff, ...".
std::string HexDigits(const std::uint8_t* data, std::size_t size, const char* separator = "",
                      const char* prefix = "");
std::string HexDigits(const Checksum128& checksum, const char* separator = "",
                      const char* prefix = "");

// The bytes from the offset on (none when the offset is past the end).
Bytes Tail(const Bytes& bytes, std::size_t from);

// `length` bytes from the offset of the content repeated without end: what a
// memory filled with that content holds there.
Bytes Repeating(const Bytes& content, std::size_t offset, std::size_t length);
