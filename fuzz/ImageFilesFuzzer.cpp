// Fuzz target: image files of any size and content, through everything that
// reads them without a device: the image checksum, the release manifest
// ("-v") and the radio CRC export ("-c", "-C").
//
// Input: byte 0 picks the check (% 3); what follows is read as each check says.
//   0 checksum: pad size (int16), offset (uint16), size byte, then the file.
//     Compared with the devices' own computation (sim::ReferenceChecksum) on
//     the same bytes from the same offset with the same pad size. A size byte
//     of 0xF0 or more repeats the file past 256 KiB.
//   1 manifest: flags, start-region adjustment, timestamp length and text,
//     bootloader length and bytes, then the firmware image. The output is the
//     whole block with exit status 0, or nothing on standard output, the
//     error line on standard error and exit status 1.
//   2 CRC export: flags, start-region adjustment, then the image. The output
//     is the 32 digits or the "#define RADIO_CRC " line of the checksum.
// A controller image (no "_module" in its name) gets a start region of 8240
// bytes, give or take the adjustment, in front of the fuzzed bytes, so that
// the checksummed part is the fuzzer's.
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "image/FirmwareUpdater.h"
#include "sim/ReferenceChecksum.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/ImageProfiles.h"
#include "testsupport/ToolLines.h"

namespace {

using fuzz::ByteReader;
using fuzz::Violation;

constexpr std::size_t kControllerChecksumOffset =
    ControllerImage::kStart + ControllerImage::kHeader;
constexpr std::size_t kLargeFileSize = 256 * 1024 + 1000;
constexpr int kLargestPadSize = 8192;

void CheckChecksum(ByteReader& input) {
    const auto padLow = input.Byte();
    const auto padSize = static_cast<std::int16_t>(padLow | input.Byte() << 8);
    const int pad = padSize > kLargestPadSize ? padSize % (kLargestPadSize + 1) : padSize;
    const std::uint16_t offset = static_cast<std::uint16_t>(input.Byte() | input.Byte() << 8);
    const std::uint8_t sizing = input.Byte();
    Bytes file = input.Rest();
    if (sizing >= 0xF0 && !file.empty()) {
        const Bytes once = file;
        while (file.size() < kLargeFileSize + (sizing - 0xF0) * 4099u) {
            file.insert(file.end(), once.begin(), once.end());
        }
    }
    const std::string path = fuzz::ProcessTempDir().Write("checksum.bin", file);

    PadSizeProfile device(pad);
    std::array<std::uint8_t, 16> checksum{};
    if (FirmwareUpdater(&device).ComputeImageChecksum(path, offset, checksum.data()) != 0) {
        Violation("the checksum of an existing file failed");
    }
    if (checksum != sim::ReferenceChecksum(Tail(file, offset), pad)) {
        Violation("the image checksum differs from the devices' computation");
    }
}

struct ReleaseImage {
    std::string path;
    Checksum128 checksum{};
};

// The firmware file of a release check, written unless it is to be missing.
ReleaseImage WriteReleaseImage(bool radio, bool missing, std::int8_t adjustment,
                               const Bytes& tail) {
    ReleaseImage image;
    const std::string name = radio ? "firmware_module.bin" : "firmware.bin";
    image.path = (std::filesystem::path(fuzz::ProcessTempDir().Path()) / name).string();
    std::filesystem::remove(image.path);
    if (missing) {
        return image;
    }
    Bytes file;
    if (!radio) {
        file = PatternBytes(
            static_cast<std::size_t>(static_cast<long>(kControllerChecksumOffset) + adjustment),
            11);
    }
    file.insert(file.end(), tail.begin(), tail.end());
    fuzz::ProcessTempDir().Write(name, file);
    image.checksum = radio ? sim::ReferenceChecksum(file, -1)
                           : sim::ReferenceChecksum(Tail(file, kControllerChecksumOffset), 0);
    return image;
}

void Expect(bool holds, const std::string& what, const RunResult& console) {
    if (!holds) {
        Violation(what + "\n--- exit status " + std::to_string(console.status) + "\n--- stdout\n" +
                  console.out + "--- stderr\n" + console.err);
    }
}

void ExpectFailure(const RunResult& console, const std::string& errorLine) {
    Expect(console.status == 1 && console.out.empty() && console.err == errorLine + "\n",
           "expected only \"" + errorLine + "\" and exit status 1", console);
}

// The firmware timestamp as the manifest must print it: decimal digits after
// leading white space, in hexadecimal. None when the digits pass 32 bits,
// where the value is the tool's choice.
std::optional<std::string> ExpectedTimestamp(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    std::ostringstream hex;
    hex << std::hex << value;
    return hex.str();
}

bool IsTimestampHex(const std::string& text) {
    return !text.empty() && text.size() <= 8 && (text == "0" || text[0] != '0') &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string Entry(const std::string& key, const std::string& value) {
    return "\t\t\"" + key + "\"\t\"" + value + "\"\n";
}

void CheckManifest(ByteReader& input) {
    const std::uint8_t flags = input.Byte();
    const auto adjustment = static_cast<std::int8_t>(input.Byte());
    const Bytes timestampBytes = input.Take(input.Byte() % 48);
    // A command-line word ends at its first NUL.
    std::string timestamp(timestampBytes.begin(), timestampBytes.end());
    timestamp = timestamp.substr(0, timestamp.find('\0'));
    const Bytes bootloader = input.Take(input.Byte());
    const bool withBootloader = (flags & 0x02) != 0;
    const bool bootloaderMissing = (flags & 0x04) != 0;
    const bool bootloaderIsDirectory = (flags & 0x10) != 0;
    const bool firmwareMissing = (flags & 0x08) != 0;
    const ReleaseImage image =
        WriteReleaseImage((flags & 0x01) != 0, firmwareMissing, adjustment, input.Rest());

    const std::filesystem::path directory = fuzz::ProcessTempDir().Path();
    std::string bootloaderPath = (directory / "bootloader.bin").string();
    std::filesystem::remove(bootloaderPath);
    if (bootloaderIsDirectory) {
        bootloaderPath = (directory / "directory").string();
        std::filesystem::create_directory(bootloaderPath);
    } else if (!bootloaderMissing) {
        fuzz::ProcessTempDir().Write("bootloader.bin", bootloader);
    }
    std::vector<std::string> words = {"-v", image.path, timestamp};
    if (withBootloader) {
        words.push_back(bootloaderPath);
    }
    const RunResult console = RunTool(words);

    if (firmwareMissing) {
        ExpectFailure(console, UnableToOpen(image.path));
        return;
    }
    std::string bootloaderEntry;
    if (withBootloader) {
        if (bootloaderMissing || bootloaderIsDirectory) {
            ExpectFailure(console, "Error: Unable to open bootloader file");
            return;
        }
        if (bootloader.size() < 40) {
            ExpectFailure(console, "Error: Unable to read bootloader timestamp");
            return;
        }
        std::ostringstream hex;
        hex << std::hex
            << (bootloader[36] | bootloader[37] << 8 | bootloader[38] << 16 |
                static_cast<std::uint32_t>(bootloader[39]) << 24);
        bootloaderEntry = Entry("bootloadertimestamp", hex.str());
    }
    Expect(console.status == 0 && console.err.empty(), "the manifest failed", console);

    // The timestamp as printed; it must be the expected one where that is fixed.
    const std::string marker = "zbf_wired_controller_k7r_";
    const std::size_t from = console.out.find(marker);
    const std::size_t to = console.out.find(".bin", from);
    Expect(from != std::string::npos && to != std::string::npos, "no firmwarebinary value",
           console);
    const std::string printed = console.out.substr(from + marker.size(), to - from - marker.size());
    const std::optional<std::string> expected = ExpectedTimestamp(timestamp);
    Expect(expected ? printed == *expected : IsTimestampHex(printed),
           "firmware timestamp \"" + timestamp + "\" printed as " + printed, console);

    const std::string block =
        "\t\"\"\n\t{\n" + Entry("firmwarebinary", "/firmware/" + marker + printed + ".bin") +
        Entry("firmwaretimestamp", printed) + Entry("minclientpackage", "") +
        Entry("crc128", HexDigits(image.checksum)) + bootloaderEntry + "\t}\n";
    Expect(console.out == block, "the manifest block is not the expected one", console);
}

void CheckCrcExport(ByteReader& input) {
    const std::uint8_t flags = input.Byte();
    const auto adjustment = static_cast<std::int8_t>(input.Byte());
    const bool headerLine = (flags & 0x02) != 0;
    const bool missing = (flags & 0x04) != 0;
    const ReleaseImage image =
        WriteReleaseImage((flags & 0x01) != 0, missing, adjustment, input.Rest());

    const RunResult console = RunTool({headerLine ? "-C" : "-c", image.path});

    if (missing) {
        ExpectFailure(console, UnableToOpen(image.path));
        return;
    }
    const std::string expected =
        (headerLine ? RadioCrcLine(image.checksum) : HexDigits(image.checksum)) + "\n";
    Expect(console.status == 0 && console.err.empty() && console.out == expected,
           "the CRC export is not the checksum", console);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader input(data, size);
    switch (input.Byte() % 3) {
        case 0:
            CheckChecksum(input);
            break;
        case 1:
            CheckManifest(input);
            break;
        default:
            CheckCrcExport(input);
            break;
    }
    return 0;
}
