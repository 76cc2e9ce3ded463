// The 128-bit image checksum, against known vectors and against the
// simulator's independent bit-by-bit computation.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/FirmwareUpdater.h"
#include "image/Lfsr128.h"
#include "sim/ReferenceChecksum.h"
#include "testsupport/Bytes.h"
#include "testsupport/ImageProfiles.h"
#include "testsupport/TempFiles.h"

namespace {

Bytes Text(const std::string& text) { return {text.begin(), text.end()}; }

sim::Bytes Checksum(const std::vector<std::uint8_t>& content, int pad, std::int32_t offset = 0) {
    TempFile file(content);
    PadSizeProfile profile(pad);
    FirmwareUpdater updater(&profile);
    std::array<std::uint8_t, 16> out{};
    EXPECT_EQ(updater.ComputeImageChecksum(file.Path(), offset, out.data()), 0);
    return {out.begin(), out.end()};
}

TEST(ImageChecksum, KnownVectors) {
    EXPECT_EQ(Checksum({}, 0), sim::Bytes(16, 0x00));
    EXPECT_EQ(Checksum(Text("abc"), 0), HexBytes("616263 ff ffffffffffffffffffffffff"));
    EXPECT_EQ(Checksum(Text("abcdefghijklmnop"), 0), Text("abcdefghijklmnop"));
    EXPECT_EQ(Checksum(Text("abcdefghijklmnopq"), 0),
              HexBytes("414ece4dcd4ccc4bcb4aca49c948c8c7"));
}

TEST(ImageChecksum, PadSizeAddsWholeFfBlocksOnly) {
    EXPECT_EQ(Checksum(Text("abc"), 48), HexBytes("98d8d8 ffffffffffffffffffffffffff"));
    EXPECT_EQ(Checksum({}, 32), HexBytes("000000000000000000000000000000 80"));
    // 40 bytes with pad 20: three blocks, the data is never cut.
    const auto forty = PatternBytes(40);
    EXPECT_EQ(Checksum(forty, 20), sim::Bytes(Checksum(forty, 0)));
    // Negative pad (the radio profiles) stops at the end of the data.
    EXPECT_EQ(Checksum(Text("abc"), -1), Checksum(Text("abc"), 0));
}

TEST(ImageChecksum, StartsAtTheOffset) {
    std::vector<std::uint8_t> image(8240, 0x5A);
    const auto tail = Text("abc");
    image.insert(image.end(), tail.begin(), tail.end());
    EXPECT_EQ(Checksum(image, 0, 8240), HexBytes("616263 ffffffffffffffffffffffffff"));
    // A file no longer than the offset is checksummed as empty.
    EXPECT_EQ(Checksum(std::vector<std::uint8_t>(100, 7), 0, 8240), sim::Bytes(16, 0));
}

TEST(ImageChecksum, AgreesWithTheDevicesComputationAcrossReadWindows) {
    // Sizes around the tool's internal read window and block edges.
    for (std::size_t size : {1u, 15u, 16u, 17u, 4095u, 262143u, 262144u, 262145u, 300001u}) {
        const auto data = PatternBytes(size, static_cast<std::uint32_t>(size));
        const auto expected = sim::ReferenceChecksum(data);
        EXPECT_EQ(Checksum(data, 0), sim::Bytes(expected.begin(), expected.end())) << size;
    }
    const auto data = PatternBytes(77);
    const auto padded = sim::ReferenceChecksum(data, 200);
    EXPECT_EQ(Checksum(data, 200), sim::Bytes(padded.begin(), padded.end()));
}

TEST(ImageChecksum, RunsOfBlocksAgreeWithOneBlockAtATime) {
    // Runs that end inside, at and past the register's batches of 64 and of
    // 4 x 64 blocks, from a register that already holds a value.
    const auto data = PatternBytes(16 * 900, 9);
    for (std::size_t blocks : {0u, 1u, 63u, 64u, 65u, 128u, 129u, 191u, 255u, 256u, 257u, 320u, 511u,
                               512u, 831u, 899u}) {
        Lfsr128 oneByOne;
        Lfsr128 inRuns;
        oneByOne.Absorb(data.data() + 16 * 899);
        inRuns.Absorb(data.data() + 16 * 899);
        for (std::size_t i = 0; i < blocks; ++i) {
            oneByOne.Absorb(data.data() + 16 * i);
        }
        inRuns.AbsorbBlocks(data.data(), blocks);
        std::array<std::uint8_t, 16> expected{};
        std::array<std::uint8_t, 16> actual{};
        oneByOne.GetValue(expected.data());
        inRuns.GetValue(actual.data());
        EXPECT_EQ(actual, expected) << blocks;
    }
}

TEST(ImageChecksum, DevicesComputationTakesTheImageInAnyPieces) {
    // As a bootloader receives it: in report-sized pieces, after a header.
    const auto image = PatternBytes(1000, 4);
    const std::vector<std::uint8_t> body(image.begin() + 48, image.end());
    sim::ReferenceChecksummer pieces(48);
    for (std::size_t at = 0; at < image.size(); at += 50) {
        pieces.Add(image.data() + at, std::min<std::size_t>(50, image.size() - at));
    }
    EXPECT_EQ(pieces.Value(), sim::ReferenceChecksum(body));
    EXPECT_EQ(pieces.Value(300), sim::ReferenceChecksum(body, 300));
    // Asking for the value ends nothing: more data may follow.
    pieces.Add(image.data(), 7);
    std::vector<std::uint8_t> longer = body;
    longer.insert(longer.end(), image.begin(), image.begin() + 7);
    EXPECT_EQ(pieces.Value(), sim::ReferenceChecksum(longer));
}

TEST(ImageChecksum, MissingFileOrDirectoryCannotBeOpened) {
    PadSizeProfile profile(0);
    FirmwareUpdater updater(&profile);
    std::array<std::uint8_t, 16> out{};
    out.fill(0xAB);
    const TempDirectory directory;
    testing::internal::CaptureStderr();
    EXPECT_EQ(updater.ComputeImageChecksum("/nonexistent/image.bin", 0, out.data()), -1);
    EXPECT_EQ(updater.ComputeImageChecksum(directory.Path(), 0, out.data()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to open: /nonexistent/image.bin\nUnable to open: " + directory.Path() + "\n");
    EXPECT_EQ(out[0], 0xAB);  // untouched
}

}  // namespace
