// A device pulled out in the middle of a command. Once the device is gone,
// every later report fails at once instead of being retried a hundred times,
// so the command ends with its failure line within two seconds of virtual
// time after the unplug, whichever report was the last one the device took.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

constexpr std::uint64_t kPromptEndMs = 2000;

struct Outcome {
    int status;
    std::string lastLine;  // of standard output, or of standard error for the dongle's failures
};

class UnpluggedDevice : public SimTest {
protected:
    // Runs the command against a fresh device unplugged after its k-th
    // report, for every k up to the reports a whole healthy run sends; the
    // run must end within two seconds of the unplug, with the outcome given.
    void SweepUnplugPoints(const std::function<sim::SimDevice&()>& plug,
                           const std::vector<std::string>& args, Edition edition,
                           const std::function<Outcome(std::int64_t k, std::int64_t total)>& expected) {
        world.Reset();
        plug();
        ASSERT_EQ(RunTool(args, edition).status, 0) << "the healthy run";
        std::int64_t total = 0;
        for (const auto& device : world.devices) {
            total += static_cast<std::int64_t>(device->setReportsTaken);
        }
        ASSERT_GT(total, 0);
        for (std::int64_t k = 1; k <= total; ++k) {
            world.Reset();
            sim::SimDevice& device = plug();
            device.unplugAfterReports = k;
            const RunResult run = RunTool(args, edition);
            const Outcome outcome = expected(k, total);
            EXPECT_EQ(run.status, outcome.status) << "unplugged after report " << k;
            EXPECT_EQ(LastLine(run), outcome.lastLine) << "unplugged after report " << k;
            ASSERT_TRUE(device.unpluggedByFaultAtMs.has_value()) << k;
            EXPECT_LE(world.NowMs() - *device.unpluggedByFaultAtMs, kPromptEndMs)
                << "unplugged after report " << k;
            EXPECT_EQ(world.liveHandles, 0) << k;
        }
    }

    // The last line of the stream that carries the outcome: standard error
    // when it holds anything (the dongle's failures), else standard output.
    static std::string LastLine(const RunResult& run) {
        const auto lines = run.err.empty() ? run.OutLines() : run.ErrLines();
        return lines.empty() ? std::string() : lines.back();
    }
};

// Start, ten data reports, checksum, reset: only an unplug after the reset
// leaves a completed update.
TEST_F(UnpluggedDevice, ControllerUpdateEndsPromptlyWhereverTheControllerGoes) {
    TempFile file(ControllerImage::Pattern(500, 3).file);
    SweepUnplugPoints(
        [&]() -> sim::SimDevice& { return world.Add<ControllerModel>(ControllerModel::Mode::Bootloader); },
        {file.Path()}, Edition::Standard, [](std::int64_t k, std::int64_t total) {
            return k < total ? Outcome{1, kUpdateError} : Outcome{0, kUpdated};
        });
}

// The main use with a real-sized image: 5243 data reports, the controller
// gone after the 2000th report.
TEST_F(UnpluggedDevice, ControllerUpdateOfALargeImage) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.unplugAfterReports = 2000;
    TempFile file(ControllerImage::Pattern(256 * 1024, 3).file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kUpdateError);
    ASSERT_TRUE(controller.unpluggedByFaultAtMs.has_value());
    EXPECT_LE(world.NowMs() - *controller.unpluggedByFaultAtMs, kPromptEndMs);
    EXPECT_TRUE(controller.firmware.empty());
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(UnpluggedDevice, TivaneUpdateEndsPromptlyWhereverTheTivaneGoes) {
    TempFile file(ControllerImage::Pattern(500, 3).file, "_tivane.bin");
    SweepUnplugPoints([&]() -> sim::SimDevice& { return world.Add<sim::TivaneModel>(); },
                      {file.Path()}, Edition::Standard, [](std::int64_t k, std::int64_t total) {
                          return k < total ? Outcome{1, kUpdateError} : Outcome{0, kUpdated};
                      });
}

// The bootloader route fails and the wireless route finds no dongle. The
// radio has no reset: the checksum is the last report, and the radio's one
// acknowledgement cannot be read from a device that is gone.
TEST_F(UnpluggedDevice, RadioUpdateOverTheBootloaderEndsPromptly) {
    TempFile file(PatternBytes(500, 4), "_module.bin");
    SweepUnplugPoints(
        [&]() -> sim::SimDevice& { return world.Add<ControllerModel>(ControllerModel::Mode::Bootloader); },
        {file.Path()}, Edition::Standard,
        [](std::int64_t, std::int64_t) { return Outcome{1, kOpenError}; });
}

// The last route: the dongle carrying the update over its wireless link.
TEST_F(UnpluggedDevice, RadioUpdateOverTheWirelessLinkEndsPromptly) {
    TempFile file(PatternBytes(500, 4), "_module.bin");
    SweepUnplugPoints([&]() -> sim::SimDevice& { return world.Add<sim::DongleAppModel>(); },
                      {file.Path()}, Edition::Standard, [](std::int64_t, std::int64_t) {
                          return Outcome{1, kUpdateError};
                      });
}

// Start, erases and writes of three pages, the end of SWD mode, the restart.
// Once SWD mode was ended the radio is programmed: a lost restart does not
// change the result.
Outcome SwdReflashOutcome(std::int64_t k, std::int64_t total) {
    if (k >= total - 1) {
        return Outcome{0, kReflashed};
    }
    if (k == 1) {  // the start taken, its acknowledgement lost
        return Outcome{-1, kNoSwdStart};
    }
    return Outcome{-1, kAppFailed};
}

TEST_F(UnpluggedDevice, SwdReflashEndsPromptlyWhereverTheControllerGoes) {
    TempFile file(PatternBytes(3000, 5));
    SweepUnplugPoints([&]() -> sim::SimDevice& { return world.Add<ControllerModel>(); },
                      {"-s", file.Path()}, Edition::Standard, SwdReflashOutcome);
}

// Where hidraw sets errno, "no such device" tells at once that the device is
// gone; without it (Windows' back end never sets it) the device's path
// leaving the listing must tell. The same sweep with errno withheld.
TEST_F(UnpluggedDevice, SwdReflashEndsPromptlyWithoutErrno) {
    TempFile file(PatternBytes(3000, 5));
    SweepUnplugPoints(
        [&]() -> sim::SimDevice& {
            world.errnoWithheld = true;
            return world.Add<ControllerModel>();
        },
        {"-s", file.Path()}, Edition::Standard, SwdReflashOutcome);
}

TEST_F(UnpluggedDevice, SwdReflashWithSoftDeviceEndsPromptly) {
    TempFile softDevice(PatternBytes(1200, 6));
    TempFile application(PatternBytes(700, 7));
    SweepUnplugPoints(
        [&]() -> sim::SimDevice& { return world.Add<ControllerModel>(); },
        {"-s", softDevice.Path(), "98304", application.Path()}, Edition::Compact,
        [](std::int64_t k, std::int64_t total) {
            // Start, chip erase, 22 SoftDevice writes, 13 application writes
            // with their page's erase, end, restart.
            if (k >= total - 1) {
                return Outcome{0, kReflashed};
            }
            if (k == 1) {
                return Outcome{-1, kNoSwdStart};
            }
            if (k == 2) {
                return Outcome{-1, std::string(10, '.') + "ERROR: full chip failed"};
            }
            return Outcome{-1, k < 2 + 22 + 1 ? kSdFailed : kAppFailed};
        });
}

// The eight reads of the opening, the version query, then the guard and the
// pages; the reset is the last report. The dongle's status reads of a device
// that is gone fail at once as well.
TEST_F(UnpluggedDevice, DongleUpgradeEndsPromptlyWhereverTheDongleGoes) {
    TempFile file(PatternBytes(1300, 8), "_dongle.bin");
    SweepUnplugPoints([&]() -> sim::SimDevice& { return world.Add<sim::DongleBootloaderModel>(); },
                      {file.Path()}, Edition::Standard, [](std::int64_t k, std::int64_t total) {
                          if (k == total) {
                              return Outcome{0, kDongleUpgraded};
                          }
                          return Outcome{-1, k <= 9 ? kNoVersion : kDongleFailed};
                      });
}

TEST_F(UnpluggedDevice, DongleUpgradeOfALargeImageKeepsTheGuard) {
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    dongle.unplugAfterReports = 1000;
    TempFile file(PatternBytes(100 * 1024, 9), "_dongle.bin");
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.ErrLines(), Transcript{kDongleFailed});
    ASSERT_TRUE(dongle.unpluggedByFaultAtMs.has_value());
    EXPECT_LE(world.NowMs() - *dongle.unpluggedByFaultAtMs, kPromptEndMs);
    EXPECT_EQ(dongle.Page(0)[0], 0x02);
    EXPECT_EQ(dongle.Page(0)[1], 0x78);
    EXPECT_EQ(dongle.Page(0)[2], 0x00);
    EXPECT_EQ(dongle.resets, 0);
}

}  // namespace
