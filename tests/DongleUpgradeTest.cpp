// The dongle upgrade as a user runs it: a dongle in its bootloader, an image
// whose name marks it as a dongle image, the lines printed, the exit status,
// the pages in the order they were written and the dongle's memory after.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "device/QuorlControllerDevice.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/HostConventions.h"
#include "testsupport/DongleMemory.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using Pages = std::vector<int>;

const Transcript kUpgraded = {"Dongle bootloader version 1.3", kDongleUpgraded};

class DongleUpgrade : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        dongle = &world.Add<sim::DongleBootloaderModel>();
    }
    RunResult Upgrade(const std::vector<std::uint8_t>& image, Edition edition = Edition::Standard) {
        TempFile file(image, "_dongle.bin");
        return RunTool({file.Path()}, edition);
    }
    // The reports after the opening and the version query.
    Transcript StepsAfterVersion() const {
        const Transcript steps = Steps(*dongle);
        const auto version = std::find(steps.begin(), steps.end(), "version");
        EXPECT_NE(version, steps.end());
        return Transcript(version == steps.end() ? version : version + 1, steps.end());
    }

    sim::DongleBootloaderModel* dongle = nullptr;
};

TEST_F(DongleUpgrade, ImageWrittenFromPageOneOnPageZeroLastThenReset) {
    dongle->versionReply = {0x0A, 0x00};
    const auto image = PatternBytes(1000);
    const RunResult run = Upgrade(image);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{"Dongle bootloader version 10.0", kDongleUpgraded}));
    EXPECT_EQ(run.err, "");
    // Guard, then page 1 with the 488 bytes from offset 512, then page 0.
    EXPECT_EQ(dongle->pagesWritten, (Pages{0, 1, 0}));
    EXPECT_EQ(dongle->memory, DongleMemoryWith(image));
    EXPECT_EQ(Steps(*dongle).back(), "reset");
    EXPECT_EQ(dongle->resets, 1);
}

TEST_F(DongleUpgrade, ImageSizesAroundThePageEdges) {
    struct Case {
        std::size_t size;
        Pages pages;
    };
    for (const Case& c : {Case{0, {0}}, Case{100, {0, 0}}, Case{512, {0, 0}},
                          Case{3 * 512, {0, 1, 2, 0}}, Case{3 * 512 + 1, {0, 1, 2, 3, 0}}}) {
        world.Reset();
        auto& fresh = world.Add<sim::DongleBootloaderModel>();
        const auto image = PatternBytes(c.size, static_cast<std::uint32_t>(c.size));
        const RunResult run = Upgrade(image);
        EXPECT_EQ(run.status, 0) << c.size;
        EXPECT_EQ(run.OutLines(), kUpgraded) << c.size;
        EXPECT_EQ(fresh.pagesWritten, c.pages) << c.size;
        // An empty image leaves the guard in page 0.
        EXPECT_EQ(fresh.memory, DongleMemoryWith(c.size == 0 ? HexBytes("02 78 00") : image))
            << c.size;
        EXPECT_EQ(fresh.resets, 1) << c.size;
    }
}

TEST_F(DongleUpgrade, CutShortUpgradeKeepsTheGuardAndTheRerunDoesNotRewriteIt) {
    const auto image = PatternBytes(1600);
    dongle->badReadbackPage = 2;
    RunResult run = Upgrade(image);
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.OutLines(), Transcript{"Dongle bootloader version 1.3"});
    EXPECT_EQ(run.ErrLines(), Transcript{kDongleFailed});
    // Three attempts at page 2, nothing after it, no reset.
    EXPECT_EQ(dongle->pagesWritten, (Pages{0, 1, 2, 2, 2}));
    EXPECT_EQ(dongle->resets, 0);
    EXPECT_EQ(dongle->Page(0), DonglePage(HexBytes("02 78 00")));

    dongle->badReadbackPage = -1;
    dongle->pagesWritten.clear();
    run = Upgrade(image);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dongle->pagesWritten, (Pages{1, 2, 3, 0}));
    EXPECT_EQ(dongle->memory, DongleMemoryWith(image));
}

TEST_F(DongleUpgrade, PageThatReadsBackWrongOnceIsRewritten) {
    dongle->badReadbackPage = 1;
    dongle->badReadbackTimes = 1;
    const auto image = PatternBytes(1024);
    const RunResult run = Upgrade(image);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), kUpgraded);
    EXPECT_EQ(dongle->pagesWritten, (Pages{0, 1, 1, 0}));
    EXPECT_EQ(dongle->memory, DongleMemoryWith(image));
}

TEST_F(DongleUpgrade, DongleThatCannotBeOpenedOrSynchronised) {
    for (const Edition edition : {Edition::Standard, Edition::Compact}) {
        world.Reset();
        const RunResult run = Upgrade(PatternBytes(600), edition);
        EXPECT_EQ(run.status, -1);
        EXPECT_EQ(run.OutLines(), Transcript{kDongleOpenError});
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(world.OpenAttemptsFor(kDongleBootloaderProductId), 1u);
        EXPECT_TRUE(world.Pauses().empty());
    }
    // A dongle whose status reports carry more than one byte never synchronises.
    world.Reset();
    auto& talkative = world.Add<sim::DongleBootloaderModel>();
    talkative.longStatusReports = true;
    const RunResult run = Upgrade(PatternBytes(600));
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.OutLines(), Transcript{kDongleOpenError});
    EXPECT_TRUE(Steps(talkative).empty());
    // One whose descriptor declares 64-byte input reports: hidraw hands over
    // the one byte it sends, Windows pads it to 64, no status byte any more.
    world.Reset();
    world.Add<sim::DongleBootloaderModel>().descriptor.inputReportLength = 64;
    const RunResult padded = Upgrade(PatternBytes(600));
    const bool windows = sim::Host().padsInputReports;
    EXPECT_EQ(padded.status, windows ? -1 : 0);
    EXPECT_EQ(padded.OutLines(), windows ? Transcript{kDongleOpenError} : kUpgraded);
}

TEST_F(DongleUpgrade, OpenBudgetRetriesEveryHalfSecond) {
    TempFile file(PatternBytes(600), "_dongle.bin");
    dongle->appearAtMs = 400;
    testing::internal::CaptureStdout();
    EXPECT_EQ(UpgradeDongle(file.Path(), 1000), 0);
    EXPECT_EQ(Lines(testing::internal::GetCapturedStdout()), kUpgraded);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>{500});

    world.Reset();
    world.Add<sim::DongleBootloaderModel>().appearAtMs = 1200;
    testing::internal::CaptureStdout();
    EXPECT_EQ(UpgradeDongle(file.Path(), 1000), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(kDongleOpenError) + "\n");
    EXPECT_EQ(world.Pauses(), (std::vector<std::uint32_t>{500, 500}));
    EXPECT_EQ(world.OpenAttemptsFor(kDongleBootloaderProductId), 2u);
}

TEST_F(DongleUpgrade, MalformedVersionReplyStopsBeforeAnythingIsWritten) {
    for (const sim::Bytes& reply : {HexBytes("01"), HexBytes("01 03 00")}) {
        dongle->versionReply = reply;
        const RunResult run = Upgrade(PatternBytes(600));
        EXPECT_EQ(run.status, -1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.ErrLines(), Transcript{kNoVersion});
        EXPECT_TRUE(dongle->pagesWritten.empty());
    }
}

TEST_F(DongleUpgrade, DongleWhoseStatusNeverChanges) {
    dongle->statusFrozen = true;
    const RunResult run = Upgrade(PatternBytes(600));
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.ErrLines(), Transcript{kNoVersion});
    // Synchronisation, then eight read commands and the version query, each
    // given up after 100 status reports 10 ms apart.
    EXPECT_EQ(world.NowMs(), 10u + 9u * 990u);
    EXPECT_EQ(Steps(*dongle), (Transcript{"read 0 x 8", "version"}));
}

TEST_F(DongleUpgrade, MissingFileOrDirectoryFailsAfterTheVersionLineWithItsReason) {
    const TempDirectory temp("_dongle");
    const std::string& directory = temp.Path();
    const std::string missing = directory + "/missing_dongle.bin";
    for (const std::string& path : {directory, missing}) {
        const RunResult run = RunTool({path});
        EXPECT_EQ(run.status, -1) << path;
        EXPECT_EQ(run.OutLines(), Transcript{"Dongle bootloader version 1.3"}) << path;
        EXPECT_EQ(run.ErrLines(), (Transcript{UnableToOpen(path), kDongleFailed})) << path;
        EXPECT_EQ(StepsAfterVersion(), Transcript{}) << path;
        dongle->wire.clear();
    }
}

TEST_F(DongleUpgrade, ImageLongerThanTheAddressablePagesIsRefusedBeforeTheGuard) {
    const RunResult run = Upgrade(PatternBytes(131073));
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.OutLines(), Transcript{"Dongle bootloader version 1.3"});
    ASSERT_EQ(run.ErrLines().size(), 2u);
    EXPECT_NE(run.ErrLines()[0].find("131072"), std::string::npos);
    EXPECT_EQ(run.ErrLines()[1], kDongleFailed);
    EXPECT_EQ(StepsAfterVersion(), Transcript{});
    EXPECT_EQ(dongle->memory, DongleMemoryWith({}));
    EXPECT_EQ(dongle->resets, 0);
}

TEST_F(DongleUpgrade, ImageFillingAllPagesIsWritten) {
    const auto image = PatternBytes(131072);
    const RunResult run = Upgrade(image);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), kUpgraded);
    ASSERT_EQ(dongle->pagesWritten.size(), 257u);
    EXPECT_EQ(dongle->pagesWritten[255], 255);
    EXPECT_EQ(dongle->pagesWritten.back(), 0);
    EXPECT_EQ(dongle->memory, DongleMemoryWith(image));
}

}  // namespace
