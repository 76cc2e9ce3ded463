// The devices' own computation of the 128-bit image checksum, written
// independently of the tool's (bit by bit, straight from the register's
// definition), so that a fault in either shows as a failed verification.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

// Checksum of data, absorbed in 16-byte blocks with the last one filled with
// 0xFF; then whole 0xFF blocks while fewer than padSize bytes were absorbed.
std::array<std::uint8_t, 16> ReferenceChecksum(const std::vector<std::uint8_t>& data,
                                               long long padSize = 0);

}  // namespace sim
