// The image checksum as people and scripts read it: every byte as two
// lowercase hexadecimal digits, in the order the register delivers them.
#pragma once

#include <cstdint>
#include <string>

#include "image/Lfsr128.h"

// Two lowercase hexadecimal digits, with a leading 0 where needed.
std::string ChecksumByteDigits(std::uint8_t byte);

// The 16 checksum bytes as 32 digits, nothing between them.
std::string ChecksumDigits(const std::uint8_t* checksum);
