// "-c" / "-C": the image checksum as digits or as the RADIO_CRC line, with
// the radio image layout for "_module" files and the controller's otherwise.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "sim/ReferenceChecksum.h"
#include "testsupport/Bytes.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

// A single 16-byte block enters the all-zero register unchanged, so a radio
// image made of these bytes has exactly them as its checksum.
const sim::Bytes kKnownChecksum = HexBytes("0A FF 00 01010101010101010101010101");

const std::string kKnownLine =
    "#define RADIO_CRC 0x0a, 0xff, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, "
    "0x01, 0x01, 0x01, 0x01, 0x01";

TEST(RadioCrcExport, HeaderLineAndDigitsForAKnownChecksum) {
    TempFile radio(kKnownChecksum, "_module.bin");

    const RunResult header = RunTool({"-C", radio.Path()});
    EXPECT_EQ(header.status, 0);
    EXPECT_EQ(header.err, "");
    EXPECT_EQ(header.out, kKnownLine + "\n");

    const RunResult digits = RunTool({"-c", radio.Path()});
    EXPECT_EQ(digits.status, 0);
    EXPECT_EQ(digits.out, "0aff00" "01010101010101010101010101" "\n");
}

TEST(RadioCrcExport, ControllerImagesAreChecksummedFromOffset8240) {
    // The same checksum from a controller image: its start region and header are skipped.
    TempFile controller(ControllerImage::Checksumming(kKnownChecksum).file);
    EXPECT_EQ(RunTool({"-C", controller.Path()}).out, kKnownLine + "\n");

    // The same bytes named as a radio image are checksummed from offset 0:
    // the whole file, start region and header included.
    const Bytes file = ControllerImage::Checksumming(kKnownChecksum).file;
    TempFile radio(file, "_module.bin");
    const RunResult result = RunTool({"-C", radio.Path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, RadioCrcLine(sim::ReferenceChecksum(file)) + "\n");
}

TEST(RadioCrcExport, MissingFileLeavesStandardOutputEmpty) {
    for (const char* option : {"-c", "-C"}) {
        const RunResult result = RunTool({option, "/nonexistent/radio_module.bin"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Unable to open: /nonexistent/radio_module.bin\n");
    }
}

class ReleaseChecksum : public SimTest {};

TEST_F(ReleaseChecksum, EqualsWhatTheControllerUpdatePrintsAndSends) {
    auto& controller = world.Add<sim::ControllerModel>();
    TempFile image(PatternBytes(20000, 9));

    const std::string digits = RunTool({"-c", image.Path()}).out;
    const RunResult update = RunTool({image.Path()});
    EXPECT_EQ(update.status, 0);
    const auto lines = update.OutLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Image checksum: " + digits.substr(0, 32)),
              lines.end());
    ASSERT_TRUE(controller.checksumReceived.has_value());
    const sim::Bytes sent(controller.checksumReceived->begin(), controller.checksumReceived->end());
    EXPECT_EQ(HexBytes(digits), sent);
    EXPECT_EQ(digits.size(), 33u);

    const RunResult manifest = RunTool({"-v", image.Path(), "1"});
    ASSERT_GE(manifest.OutLines().size(), 6u) << manifest.out;
    EXPECT_EQ(manifest.OutLines()[5], "\t\t\"crc128\"\t\"" + digits.substr(0, 32) + "\"");
}

}  // namespace
