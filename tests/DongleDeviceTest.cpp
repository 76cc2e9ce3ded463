// The dongle's bootloader link, operation by operation, against the simulated
// dongle: status synchronisation, acknowledgement by status change, chunk
// addressing on the wire, page writes and their read-back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/QuorlControllerDevice.h"
#include "device/QuorlDongleDevice.h"
#include "image/ImageFile.h"
#include "sim/DongleBootloaderModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/DongleMemory.h"
#include "testsupport/TempFiles.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

class ProbedDongle : public QuorlDongleDevice {
public:
    ProbedDongle() : QuorlDongleDevice(kDongleBootloaderProductId) {}
    int LastStatus() const { return lastStatus; }
};

class DongleLink : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        model = &world.Add<sim::DongleBootloaderModel>();
    }
    // Opens the link and forgets the traffic of the opening.
    void OpenLink() {
        ASSERT_TRUE(link.Open());
        model->wire.clear();
    }

    sim::DongleBootloaderModel* model = nullptr;
    ProbedDongle link;
};

TEST_F(DongleLink, OpenSynchronisesOnTwoStatusReportsThenReadsChunkZeroEightTimes) {
    model->status = 0x40;
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(Steps(*model), Transcript{"read 0 x 8"});
    // Each read command was acknowledged by a new status byte.
    EXPECT_EQ(link.LastStatus(), 0x48);
    // The second status report comes one report period after the first.
    EXPECT_EQ(world.NowMs(), 10u);
}

TEST_F(DongleLink, OpenFailsWithoutTwoOneByteStatusReports) {
    model->silent = true;
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(world.NowMs(), 100u);  // one status read timed out

    model->silent = false;
    model->longStatusReports = true;
    EXPECT_FALSE(link.Open());

    model->Unplug();
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(Steps(*model).empty());
}

TEST_F(DongleLink, StatusReportLongerThanOneByteCountsAsNoStatus) {
    OpenLink();
    const int synced = link.LastStatus();
    model->status = static_cast<std::uint8_t>(synced + 5);
    model->longStatusReports = true;
    // A report cut to its first byte would show the new value here.
    EXPECT_EQ(link.ReadStatus(), synced);
    model->longStatusReports = false;
    EXPECT_EQ(link.ReadStatus(), synced + 5);
    // Reading a status never moves the acknowledgement sequence on.
    EXPECT_EQ(link.LastStatus(), synced);
}

TEST_F(DongleLink, UnchangedStatusFailsTheCommandAfterHundredPolls) {
    OpenLink();
    model->statusFrozen = true;
    const std::uint64_t start = world.NowMs();
    EXPECT_FALSE(link.SendSelectCommand(0));
    EXPECT_EQ(InputReportsRead(*model), 100u);
    EXPECT_EQ(world.NowMs() - start, 990u);  // the first report at once, then every 10 ms
}

TEST_F(DongleLink, VersionNeedsExactlyTwoDataBytes) {
    OpenLink();
    std::uint8_t major = 0xEE;
    std::uint8_t minor = 0xEE;
    model->versionReply = {0x0A, 0x00};
    EXPECT_TRUE(link.GetBootloaderVersion(major, minor));
    EXPECT_EQ(major, 10);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(StepsWithReplies(*model), (Transcript{"version", "version 10.0"}));

    for (const sim::Bytes& malformed : {HexBytes("01"), HexBytes("01 03 00")}) {
        major = minor = 0xEE;
        model->versionReply = malformed;
        EXPECT_FALSE(link.GetBootloaderVersion(major, minor));
        EXPECT_EQ(major, 0);
        EXPECT_EQ(minor, 0);
    }
}

TEST_F(DongleLink, ShortPageGoesOutAsEightDataReportsPaddedWithFf) {
    OpenLink();
    const int before = link.LastStatus();
    ASSERT_TRUE(link.WritePage(7, HexBytes("11 22 33").data(), 3));

    sim::Bytes first = HexBytes("11 22 33");
    first.resize(64, 0xFF);
    std::vector<sim::Bytes> expected = {ReportBytes("02 07"), first};
    expected.resize(9, sim::Bytes(64, 0xFF));
    EXPECT_EQ(model->SentReports(), expected);
    EXPECT_EQ(Steps(*model), (Transcript{"write page 7", "page data x 8"}));
    EXPECT_EQ(link.LastStatus(), before + 9);  // the command and each data report acknowledged
    EXPECT_EQ(model->Page(7), DonglePage(HexBytes("11 22 33")));
}

TEST_F(DongleLink, PageFiveIsReadBackFromChunksFortyToFortySeven) {
    const auto data = PatternBytes(512, 5);
    model->Store(5, data);
    OpenLink();
    ASSERT_TRUE(link.VerifyPage(5, data.data(), 512));
    Transcript expected;
    for (int chunk = 40; chunk <= 47; ++chunk) {
        expected.push_back("select 0");
        expected.push_back("read " + std::to_string(chunk));
        expected.push_back("chunk");
    }
    EXPECT_EQ(StepsWithReplies(*model), expected);
}

TEST_F(DongleLink, ShortPageIsComparedOnlyOverItsLength) {
    model->Store(5, HexBytes("11 22 33 44 55"));
    OpenLink();
    EXPECT_TRUE(link.VerifyPage(5, HexBytes("11 22 33").data(), 3));
    EXPECT_EQ(Steps(*model), (Transcript{"select 0", "read 40"}));
    EXPECT_FALSE(link.VerifyPage(5, HexBytes("11 22 34").data(), 3));
}

TEST_F(DongleLink, PageFortyCrossesIntoTheSelectByte) {
    OpenLink();
    const auto data = PatternBytes(512, 40);
    ASSERT_TRUE(link.WritePageVerified(40, data.data(), 512));
    // Chunk 320 (0x0140): bits 8-15 with the select, bits 0-7 with the read.
    const Transcript steps = Steps(*model);
    ASSERT_EQ(steps.size(), 2u + 16u);
    EXPECT_EQ(Transcript(steps.begin(), steps.begin() + 4),
              (Transcript{"write page 40", "page data x 8", "select 1", "read 64"}));
    EXPECT_EQ(steps.back(), "read 71");
    EXPECT_EQ(model->Page(40), data);
}

TEST_F(DongleLink, PageIsRewrittenUntilItReadsBackAtMostThreeTimes) {
    const auto data = PatternBytes(512, 3);
    OpenLink();
    model->badReadbackPage = 3;
    model->badReadbackTimes = 1;
    EXPECT_TRUE(link.WritePageVerified(3, data.data(), 512));
    EXPECT_EQ(model->pagesWritten, (std::vector<int>{3, 3}));

    model->pagesWritten.clear();
    model->corruptStoredPage = true;
    model->badReadbackTimes = -1;
    EXPECT_FALSE(link.WritePageVerified(3, data.data(), 512));
    EXPECT_EQ(model->pagesWritten, (std::vector<int>{3, 3, 3}));
    EXPECT_TRUE(world.Pauses().empty());  // no pause between attempts
}

TEST_F(DongleLink, FailedFetchLeavesFfAndFailsTheVerification) {
    const auto data = PatternBytes(64, 9);
    model->Store(0, data);
    OpenLink();
    model->refuseGetReports = 1;
    sim::Bytes chunk(64, 0x00);
    EXPECT_FALSE(link.ReadChunk(0, chunk.data(), 64));
    EXPECT_EQ(chunk, sim::Bytes(64, 0xFF));

    model->refuseGetReports = 1;
    EXPECT_TRUE(link.WritePageVerified(0, data.data(), 64));
    EXPECT_EQ(model->pagesWritten, (std::vector<int>{0, 0}));
}

TEST_F(DongleLink, BootGuardIsThreeBytesAtTheStartOfPageZero) {
    OpenLink();
    EXPECT_FALSE(link.HasBootGuard());
    ASSERT_TRUE(link.WriteBootGuard());
    EXPECT_EQ(model->Page(0), DonglePage(HexBytes("02 78 00")));
    EXPECT_TRUE(link.HasBootGuard());
}

// A file that grew past 256 pages after it was measured: page 256 would go
// out as page 0, over the boot guard. The upgrade stops before it instead.
TEST_F(DongleLink, UpgradeNeverWritesPastPage255) {
    OpenLink();
    TempFile image(PatternBytes(131072 + 1));
    const ImageFile firmware = OpenImageFile(image.Path());
    ASSERT_TRUE(firmware);
    EXPECT_FALSE(link.UpgradeFromFile(firmware.get(), 131072));
    EXPECT_EQ(model->pagesWritten.front(), 0);  // the guard
    EXPECT_EQ(model->pagesWritten.back(), 255);
    EXPECT_EQ(std::count(model->pagesWritten.begin(), model->pagesWritten.end(), 0), 1);
    EXPECT_EQ(model->Page(0), DonglePage(HexBytes("02 78 00")));
}

TEST_F(DongleLink, ResetIsSentWithoutWaitingForTheStatus) {
    OpenLink();
    const std::uint64_t start = world.NowMs();
    link.ResetDongle();
    EXPECT_EQ(model->SentReports(), std::vector<sim::Bytes>{ReportBytes("07 52 53 54")});
    EXPECT_EQ(Steps(*model), Transcript{"reset"});
    EXPECT_EQ(InputReportsRead(*model), 0u);
    EXPECT_EQ(world.NowMs(), start);
    EXPECT_EQ(model->resets, 1);
}

}  // namespace
