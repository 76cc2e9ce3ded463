// Bad files on every path that reads one: a missing file and a directory
// count as a file that cannot be opened, each with the message and status its
// command gives for that; files past 4 GiB keep their offsets, sizes and
// checksums right; empty images and a short bootloader file end as their
// commands say. No crash, no hang, no success on a file that was not read.
// (Files that only POSIX systems make: posix/BadFilesPosixTest.cpp.)
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/ReferenceChecksum.h"
#include "sim/TivaneModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/SparseFile.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/BadFiles.h"

namespace {

using badfiles::BadFiles;
using sim::ControllerModel;

TEST_F(BadFiles, MissingFileCannotBeOpened) {
    ExpectEveryReaderRefuses(
        [](const std::string& name) { return TempPath("_no_such_directory") + "/" + name; });
}

// Linux opens a directory for reading, and its first read fails: it must
// not pass for an empty image.
TEST_F(BadFiles, DirectoryIsAFileThatCannotBeOpened) {
    std::vector<std::string> made;
    ExpectEveryReaderRefuses([&](const std::string& name) {
        const std::string path = InTempDirectory(name);
        std::filesystem::create_directory(path);
        made.push_back(path);
        return path;
    });
    for (const std::string& path : made) {
        std::filesystem::remove(path);
    }
}

// A bootloader file too short to hold its timestamp at bytes 36 to 39.
TEST_F(BadFiles, EmptyBootloaderFileHasNoTimestamp) {
    TempFile bootloader({});
    const RunResult run = RunTool({"-v", goodImage.Path(), "1", bootloader.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error: Unable to read bootloader timestamp\n");
}

// ---------------------------------------------------------------------------
// Empty images.

TEST_F(BadFiles, EmptyControllerAndTivaneImagesStillStartAndVerify) {
    for (const std::string& suffix : {std::string("_controller.bin"), std::string("_tivane.bin")}) {
        SCOPED_TRACE(suffix);
        world.Reset();
        ControllerModel& device =
            suffix == "_tivane.bin"
                ? static_cast<ControllerModel&>(
                      world.Add<sim::TivaneModel>(ControllerModel::Mode::Bootloader))
                : world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
        TempFile empty({}, suffix);
        const RunResult run = RunTool({empty.Path()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        const Transcript lines = run.OutLines();
        ASSERT_GE(lines.size(), 5u);
        // The checksum of nothing is all zeros.
        EXPECT_EQ(Transcript(lines.end() - 5, lines.end()),
                  Join({UpdateEngineLines(Checksum128{}), {kUpdated}}));
        // No data command; the start and the checksum all the same.
        EXPECT_EQ(Steps(device), (Transcript{"start", "checksum", "reset"}));
        EXPECT_EQ(device.checksumReceived, Checksum128{});
        EXPECT_TRUE(device.firmware.empty());
        EXPECT_EQ(device.resetsFromBootloader, 1);
    }
}

TEST_F(BadFiles, EmptyRadioImageIsBegunAndVerifiedWithoutData) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile empty({}, "_module.bin");
    const RunResult run = RunTool({empty.Path()});
    EXPECT_EQ(run.status, 0);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kUpdated);
    EXPECT_EQ(Steps(controller), (Transcript{"radio begin", "radio checksum"}));
    EXPECT_EQ(controller.radio->updatesInstalled, 1);
}

TEST_F(BadFiles, EmptySwdImageSendsNoRequestAndOneMark) {
    auto& controller = world.Add<ControllerModel>();
    controller.swdProbe->flash.Fill(oldFlash);
    TempFile empty({});
    const RunResult run = RunTool({"-s", empty.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingRadio, kViaUsb, "", kStartingSwd, "", "",
                                          "Programming Application at 0",
                                          "Transferring " + empty.Path() + "...", ".", kReflashed}));
    EXPECT_EQ(Steps(controller), (Transcript{"swd start", "swd end", "reset"}));
    EXPECT_EQ(controller.swdProbe->flash.Read(0, oldFlash.size()), oldFlash);
}

TEST_F(BadFiles, EmptyDongleImageWritesOnlyTheGuard) {
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    TempFile empty({}, "_dongle.bin");
    const RunResult run = RunTool({empty.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{"Dongle bootloader version 1.3", kDongleUpgraded}));
    EXPECT_EQ(dongle.pagesWritten, std::vector<int>{0});
    EXPECT_EQ(Bytes(dongle.memory.begin(), dongle.memory.begin() + 3), HexBytes("02 78 00"));
    EXPECT_EQ(dongle.resets, 1);
}

TEST_F(BadFiles, ChecksumOfNothingIsZero) {
    for (const std::string& suffix : {std::string(".bin"), std::string("_module.bin")}) {
        TempFile empty({}, suffix);
        RunResult run = RunTool({"-c", empty.Path()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::string(32, '0') + "\n");
        run = RunTool({"-C", empty.Path()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, RadioCrcLine(Checksum128{}) + "\n");
    }
}

// ---------------------------------------------------------------------------
// Files past 4 GiB, made sparse: only the bytes written take room on disk.

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;

// Reading 4 GiB, even of holes, takes seconds; several times that under the
// sanitizers, whose run skips it.
bool SlowTestsWanted() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    const char* wanted = std::getenv("QUORL_SLOW_TESTS");
    return wanted == nullptr || std::string(wanted) != "0";
#endif
}

// The register's 16 value bytes.
using Register = Checksum128;

// One block absorbed into a register holding the given value, by the
// devices' own computation: a cleared register takes its first block as its
// value, so the state goes in as that first block.
Register Absorb(const Register& state, const Register& block) {
    std::vector<std::uint8_t> blocks(state.begin(), state.end());
    blocks.insert(blocks.end(), block.begin(), block.end());
    return sim::ReferenceChecksum(blocks);
}

// The register clocked over n zero blocks, as the n-th power of its one-step
// map over GF(2): the map is linear, its columns the images of single bits.
Register ClockedZeroBlocks(Register state, std::uint64_t n) {
    using Map = std::array<Register, 128>;  // column j: the image of bit j
    const auto apply = [](const Map& map, const Register& v) {
        Register out{};
        for (std::size_t bit = 0; bit < 128; ++bit) {
            if ((v[bit / 8] >> (bit % 8)) & 1) {
                for (std::size_t i = 0; i < 16; ++i) {
                    out[i] ^= map[bit][i];
                }
            }
        }
        return out;
    };
    Map power{};
    for (std::size_t bit = 0; bit < 128; ++bit) {
        Register single{};
        single[bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
        power[bit] = Absorb(single, Register{});
    }
    for (; n > 0; n >>= 1) {
        if (n & 1) {
            state = apply(power, state);
        }
        Map squared{};
        for (std::size_t bit = 0; bit < 128; ++bit) {
            squared[bit] = apply(power, power[bit]);
        }
        power = squared;
    }
    return state;
}

// The checksum of a controller image of 4 GiB + 100 bytes: a head after the
// checksummed region's start at 8240, zeros, and a tail across the 4 GiB
// mark whose last block is partial. The zeros move the register on once per
// block, so a block counted wrong past 32 bits shows in the result.
TEST_F(BadFiles, ChecksumOfAnImagePastFourGiB) {
    if (!SlowTestsWanted()) {
        GTEST_SKIP() << "reads 4 GiB; skipped in the sanitizer build and with QUORL_SLOW_TESTS=0";
    }
    constexpr std::uint64_t kStart = 8240;
    constexpr std::uint64_t kSize = kFourGiB + 100;
    const Bytes head = PatternBytes(1000, 21);
    const Bytes tail = PatternBytes(300, 22);
    const std::uint64_t tailAt = kSize - tail.size();
    SparseFile image(".bin", kSize, {{kStart, head}, {tailAt, tail}});
    if (!image.Made()) {
        GTEST_SKIP() << "this file system holds no sparse file of 4 GiB";
    }

    // The expected value: the head's and the tail's blocks absorbed one by
    // one, the 268 million zero blocks between them as one power of the
    // register's clock.
    const auto blockAt = [&](std::uint64_t at) {
        Register block{};
        for (std::uint64_t i = 0; i < 16; ++i) {
            const std::uint64_t offset = at + i;
            std::uint8_t byte = 0xFF;  // past the end: the last block's fill
            if (offset < kStart + head.size()) {
                byte = head[offset - kStart];
            } else if (offset >= tailAt && offset < kSize) {
                byte = tail[offset - tailAt];
            } else if (offset < kSize) {
                byte = 0x00;
            }
            block[i] = byte;
        }
        return block;
    };
    const std::uint64_t firstZeroBlock = (head.size() + 15) / 16;
    const std::uint64_t firstTailBlock = (tailAt - kStart) / 16;
    Register state{};
    for (std::uint64_t b = 0; b < firstZeroBlock; ++b) {
        state = Absorb(state, blockAt(kStart + 16 * b));
    }
    state = ClockedZeroBlocks(state, firstTailBlock - firstZeroBlock);
    for (std::uint64_t at = kStart + 16 * firstTailBlock; at < kSize; at += 16) {
        state = Absorb(state, blockAt(at));
    }
    const RunResult run = RunTool({"-c", image.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, HexDigits(state) + "\n");
}

// The dongle's size check sees the whole 64-bit size: cut to 32 bits, this
// file would pass for 100 bytes and be written over page 0.
TEST_F(BadFiles, DongleRefusesAnImagePastFourGiBBeforeWritingAnything) {
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    SparseFile image("_dongle.bin", kFourGiB + 100, {{0, PatternBytes(100, 23)}});
    if (!image.Made()) {
        GTEST_SKIP() << "this file system holds no sparse file of 4 GiB";
    }
    const RunResult run = RunTool({image.Path()});
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.OutLines(), Transcript{"Dongle bootloader version 1.3"});
    EXPECT_EQ(run.ErrLines(),
              (Transcript{"Dongle image is 4294967396 bytes; the dongle holds at most 131072 bytes "
                          "(256 pages of 512 bytes).",
                          kDongleFailed}));
    EXPECT_TRUE(dongle.pagesWritten.empty());
    EXPECT_EQ(dongle.resets, 0);
}

}  // namespace
