// "-v": the release manifest block, byte for byte, its timestamps and
// checksum, and the failures that leave standard output empty.
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/Bytes.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"

namespace {

// A bootloader image of the given size with its timestamp bytes at 36..39.
Bytes Bootloader(std::size_t size, const std::string& timestampHex) {
    Bytes image = PatternBytes(size, 7);
    const sim::Bytes stamp = HexBytes(timestampHex);
    for (std::size_t i = 0; i < stamp.size() && 36 + i < size; ++i) {
        image[36 + i] = stamp[i];
    }
    return image;
}

TEST(Manifest, BlockWithoutBootloaderByteForByte) {
    const ControllerImage image = ControllerImage::Pattern(808);
    TempFile firmware(image.file);
    const std::string crc = HexDigits(image.Checksum());

    const RunResult result = RunTool({"-v", firmware.Path(), "1500000000"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "\t\"\"\n"
              "\t{\n"
              "\t\t\"firmwarebinary\"\t\"/firmware/zbf_wired_controller_k7r_59682f00.bin\"\n"
              "\t\t\"firmwaretimestamp\"\t\"59682f00\"\n"
              "\t\t\"minclientpackage\"\t\"\"\n"
              "\t\t\"crc128\"\t\"" + crc + "\"\n"
              "\t}\n");
}

TEST(Manifest, BootloaderTimestampIsBytes36To39LittleEndianOfAtLeast40) {
    TempFile firmware(PatternBytes(100), "_module.bin");
    TempFile bootloader(Bootloader(4096, "00 5E D0 B2"));
    // A fifth word after "-v" is ignored.
    const RunResult result = RunTool({"-v", firmware.Path(), "16", bootloader.Path(), "extra"});
    EXPECT_EQ(result.status, 0);
    const auto lines = result.OutLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2], "\t\t\"firmwarebinary\"\t\"/firmware/zbf_wired_controller_k7r_10.bin\"");
    EXPECT_EQ(lines[3], "\t\t\"firmwaretimestamp\"\t\"10\"");
    EXPECT_EQ(lines[6], "\t\t\"bootloadertimestamp\"\t\"b2d05e00\"");
    EXPECT_EQ(lines[7], "\t}");

    // Forty bytes are enough, thirty-nine are not.
    TempFile forty(Bootloader(40, "01 00 00 00"));
    const RunResult fits = RunTool({"-v", firmware.Path(), "0", forty.Path()});
    EXPECT_EQ(fits.status, 0);
    ASSERT_EQ(fits.OutLines().size(), 8u);
    EXPECT_EQ(fits.OutLines()[6], "\t\t\"bootloadertimestamp\"\t\"1\"");

    TempFile short39(Bootloader(39, "01 00 00"));
    const RunResult shortResult = RunTool({"-v", firmware.Path(), "0", short39.Path()});
    EXPECT_EQ(shortResult.status, 1);
    EXPECT_EQ(shortResult.out, "");
    EXPECT_EQ(shortResult.err, "Error: Unable to read bootloader timestamp\n");
}

TEST(Manifest, UnopenableFilesLeaveStandardOutputEmpty) {
    TempFile firmware(PatternBytes(100));
    const TempDirectory directory;
    for (const std::string& bootloader : {std::string("/nonexistent/boot.bin"), directory.Path()}) {
        const RunResult result = RunTool({"-v", firmware.Path(), "1", bootloader});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Error: Unable to open bootloader file\n") << bootloader;
    }
    // The firmware is checked first.
    const RunResult missing = RunTool({"-v", "/nonexistent/fw.bin", "1", "/nonexistent/boot.bin"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Unable to open: /nonexistent/fw.bin\n");
}

TEST(Manifest, FirmwareTimestampText) {
    TempFile firmware(PatternBytes(10));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"16", "10"},
        {"0", "0"},
        {" \t42", "2a"},          // leading white space skipped
        {"255abc", "ff"},         // stops at the first non-digit
        {"abc", "0"},             // no digits
        {"-5", "0"},              // a sign is not a digit
        {"4294967295", "ffffffff"},
        {"4294967296", "ffffffff"},  // past 32 bits: saturates rather than wrapping to 0
        {"123456789012345678901234567890", "ffffffff"},
    };
    for (const auto& [text, hex] : cases) {
        const RunResult result = RunTool({"-v", firmware.Path(), text});
        ASSERT_EQ(result.OutLines().size(), 7u) << text;
        EXPECT_EQ(result.OutLines()[3], "\t\t\"firmwaretimestamp\"\t\"" + hex + "\"") << text;
    }
}

}  // namespace
