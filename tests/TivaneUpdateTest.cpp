// The Tivane update: the restart byte on its serial port, one second's wait,
// then the controller's bootloader protocol on its HID bootloader (0x1071).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/HostConventions.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

// A Tivane image: the controller's layout, 41 pieces of 50 bytes and 17 more.
const ControllerImage kImage = ControllerImage::Pattern(50 * 41 + 17, 71);

Transcript UpdateLines(const std::string& outcome) {
    return Join({{kAttemptingUpdate}, UpdateEngineLines(kImage.Checksum()), {outcome}});
}

// A serial port's name as the system names it: /dev/ttyACMn, or COMn.
std::string Port(std::size_t n) { return sim::Host().serialPortName(n); }

const Transcript kFound = {kUpdatingTivane};
const Transcript kNotFound = {kUpdatingTivane, "No match for VID/PID of Tivane",
                              "Device not found, is it already in bootloader?"};

class TivaneUpdate : public SimTest {
protected:
    TempFile file{kImage.file, "_tivane.bin"};

    // The one open of the bootloader, which must be the only one.
    sim::OpenAttempt OnlyOpen() {
        EXPECT_EQ(world.OpenAttempts().size(), 1u);
        return world.OpenAttempts().empty() ? sim::OpenAttempt{} : world.OpenAttempts().front();
    }
};

TEST_F(TivaneUpdate, RestartsThroughTheSerialPortAndWritesTheImage) {
    auto& tivane = world.Add<sim::TivaneModel>();

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.OutLines(), Join({kFound, UpdateLines(kUpdated)}));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    // The restart byte, once, to the Tivane's port at the start.
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, tivane.serial.serialPort);
    EXPECT_EQ(world.serialWrites[0].byte, 0xFE);
    EXPECT_EQ(world.serialWrites[0].timeMs, 0u);
    EXPECT_TRUE(world.serialWrites[0].delivered);
    EXPECT_EQ(tivane.restartBytesTaken, 1);
    // Exactly one pause, of one second, before the single open.
    ASSERT_FALSE(world.Pauses().empty());
    EXPECT_EQ(world.Pauses().front(), 1000u);
    const sim::OpenAttempt open = OnlyOpen();
    EXPECT_EQ(open.timeMs, 1000u);
    EXPECT_EQ(open.vendorId, sim::kVendor);
    EXPECT_EQ(open.productId, 0x1071);
    EXPECT_TRUE(open.opened);
    // The controller's layout: from the end of the start region, in pieces of 50 bytes.
    EXPECT_EQ(Steps(tivane), (Transcript{"start", "data 50 x 41", "data 17", "checksum", "reset"}));
    EXPECT_EQ(tivane.firmware, kImage.image);
    EXPECT_EQ(tivane.resetsFromBootloader, 1);
    // The reset starts the application again: its serial port comes back.
    world.Advance(tivane.rebootDelayMs);
    EXPECT_TRUE(tivane.serial.listed);
}

TEST_F(TivaneUpdate, BootloaderAlreadyRunningIsUpdatedWithoutARestart) {
    auto& tivane = world.Add<sim::TivaneModel>(sim::ControllerModel::Mode::Bootloader);

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.OutLines(), Join({kNotFound, UpdateLines(kUpdated)}));
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(world.serialWrites.empty());
    // No wait: the bootloader is opened at once.
    EXPECT_EQ(OnlyOpen().timeMs, 0u);
    EXPECT_EQ(tivane.firmware, kImage.image);
}

TEST_F(TivaneUpdate, NoDeviceAtAllFailsAfterOneOpen) {
    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.OutLines(), Join({kNotFound, {kAttemptingUpdate, kOpenError}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(world.serialWrites.empty());
    EXPECT_TRUE(world.Pauses().empty());
    EXPECT_FALSE(OnlyOpen().opened);
}

TEST_F(TivaneUpdate, BootloaderLaterThanTheSecondIsMissed) {
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.restartDelayMs = 1001;

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.OutLines(), Join({kFound, {kAttemptingUpdate, kOpenError}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>{1000});
    const sim::OpenAttempt open = OnlyOpen();
    EXPECT_EQ(open.timeMs, 1000u);
    EXPECT_FALSE(open.opened);
    EXPECT_EQ(tivane.updatesStarted, 0);
}

// A mistyped path is found before the restart byte: the Tivane keeps running
// its application.
TEST_F(TivaneUpdate, MissingImageIsFoundBeforeTheRestartByte) {
    auto& tivane = world.Add<sim::TivaneModel>();
    const std::string missing = file.Path() + ".missing_tivane";

    const RunResult run = RunTool({missing});

    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingTivane, kUpdateError}));
    EXPECT_EQ(run.ErrLines(), Transcript{UnableToOpen(missing)});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(tivane.restartBytesTaken, 0);
    EXPECT_TRUE(world.serialWrites.empty());
    EXPECT_TRUE(world.OpenAttempts().empty());
    EXPECT_EQ(tivane.mode, sim::ControllerModel::Mode::Application);
}

TEST_F(TivaneUpdate, FirstTivaneInTheListingIsRestartedAndOthersAreLeftAlone) {
    // A device of the same vendor with another product comes first.
    world.AddUsbEntry({0x2548, 0x1002, 0x0100, "Other serial device", Port(0), true, {}});
    auto& first = world.Add<sim::TivaneModel>(sim::ControllerModel::Mode::Application, Port(1));
    auto& second = world.Add<sim::TivaneModel>(sim::ControllerModel::Mode::Application, Port(2));

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, Port(1));
    EXPECT_EQ(first.firmware, kImage.image);
    EXPECT_EQ(second.restartBytesTaken, 0);
    EXPECT_TRUE(second.serial.listed);
    EXPECT_TRUE(second.firmware.empty());
}

TEST_F(TivaneUpdate, PortNumberOfTwoDigitsIsSentToWhole) {
    auto& tivane = world.Add<sim::TivaneModel>(sim::ControllerModel::Mode::Application, Port(12));
    // The device that a cut name would reach.
    world.AddUsbEntry({0x1234, 0x0001, 0x0100, "Modem", Port(1), true, {}});

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, Port(12));
    EXPECT_EQ(tivane.restartBytesTaken, 1);
}

TEST_F(TivaneUpdate, TivaneWithoutASerialPortCountsAsNotFound) {
    // Listed by its IDs, but no serial port belongs to it (no driver bound).
    world.AddUsbEntry({0x2548, 0x1001, 0x0100, "Tivane", "", true, {}});

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.OutLines(), Join({kNotFound, {kAttemptingUpdate, kOpenError}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(world.serialWrites.empty());

    // A Tivane listed after it, with its port, is the one restarted.
    auto& tivane = world.Add<sim::TivaneModel>(sim::ControllerModel::Mode::Application, Port(3));
    EXPECT_EQ(RunTool({file.Path()}).status, 0);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, Port(3));
    EXPECT_EQ(tivane.firmware, kImage.image);
}

}  // namespace
