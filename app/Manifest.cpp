// "-v": the release manifest block of a firmware image (BRM file): where the
// image is published, its timestamp, its image checksum and, optionally, the
// timestamp of the matching bootloader.
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "app/Commands.h"
#include "app/ImageProfile.h"
#include "app/ReleaseOutput.h"
#include "image/ChecksumText.h"
#include "image/ImageFile.h"

namespace {

constexpr std::int64_t kBootloaderTimestampOffset = 36;

// Decimal digits after leading white space, up to the first other character;
// 0 when there are none. A value past 32 bits saturates at 0xffffffff, so an
// impossible timestamp shows as such instead of wrapping to a plausible one.
std::uint32_t ParseFirmwareTimestamp(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
        if (value > UINT32_MAX) {
            return UINT32_MAX;
        }
    }
    return static_cast<std::uint32_t>(value);
}

// The little-endian 32-bit timestamp at bytes 36 to 39 of the bootloader
// image; false after its error line was written.
bool ReadBootloaderTimestamp(const std::string& path, std::uint32_t& timestamp) {
    ImageFile file = OpenImageFile(path);
    if (!file) {
        std::cerr << "Error: Unable to open bootloader file" << std::endl;
        return false;
    }
    std::array<std::uint8_t, 4> bytes{};
    if (!SkipToOffset(file.get(), kBootloaderTimestampOffset) ||
        std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        std::cerr << "Error: Unable to read bootloader timestamp" << std::endl;
        return false;
    }
    timestamp = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 |
                static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

std::string Hex(std::uint32_t value) {
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

std::string Entry(const std::string& key, const std::string& value) {
    return "\t\t\"" + key + "\"\t\"" + value + "\"";
}

}  // namespace

int GenerateManifest(const std::string& firmwarePath, const std::string& timestamp,
                     const std::optional<std::string>& bootloaderPath) {
    std::array<std::uint8_t, kImageChecksumLength> checksum{};
    if (ComputeReleaseChecksum(firmwarePath, checksum.data()) != 0) {
        return 1;
    }
    const std::string crc_str = ChecksumDigits(checksum.data());
    std::uint32_t boot_timestamp = 0;
    if (bootloaderPath && !ReadBootloaderTimestamp(*bootloaderPath, boot_timestamp)) {
        return 1;
    }
    const std::string fw_timestamp = Hex(ParseFirmwareTimestamp(timestamp));

    // Every check is done: only now does the block start.
    std::cout << "\t\"\"" << std::endl;
    std::cout << "\t{" << std::endl;
    std::cout << Entry("firmwarebinary", "/firmware/zbf_wired_controller_k7r_" + fw_timestamp + ".bin")
              << std::endl;
    std::cout << Entry("firmwaretimestamp", fw_timestamp) << std::endl;
    std::cout << Entry("minclientpackage", "") << std::endl;
    std::cout << Entry("crc128", crc_str) << std::endl;
    if (bootloaderPath) {
        std::cout << Entry("bootloadertimestamp", Hex(boot_timestamp)) << std::endl;
    }
    std::cout << "\t}" << std::endl;
    return StandardOutputWritten() ? 0 : 1;
}
