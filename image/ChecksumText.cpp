#include "image/ChecksumText.h"

#include "image/Lfsr128.h"

std::string ChecksumByteDigits(std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string ChecksumDigits(const std::uint8_t* checksum) {
    std::string digits;
    for (std::uint32_t i = 0; i < kImageChecksumLength; ++i) {
        digits += ChecksumByteDigits(checksum[i]);
    }
    return digits;
}
