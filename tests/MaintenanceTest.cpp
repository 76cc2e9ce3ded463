// Rebooting into the bootloader, resetting back, and writing the unit serial.
#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

class Maintenance : public CommandTest {};

TEST_F(Maintenance, RebootIntoBootloader) {
    auto& controller = world.Add<ControllerModel>();
    const RunResult run = RunTool({"-b", "ignored"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kRebootSent}));
    EXPECT_EQ(Steps(controller), Transcript{"reboot"});
    EXPECT_EQ(controller.rebootsIntoBootloader, 1);
    world.Advance(controller.rebootDelayMs);
    EXPECT_EQ(controller.productId, 0x1002);
}

TEST_F(Maintenance, RebootWithoutARunningController) {
    const Transcript expected = {kSendingToController, kRebootFailed};
    const RunResult absent = RunTool({"-b"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.OutLines(), expected);
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult inBootloader = RunTool({"-b"});
    EXPECT_EQ(inBootloader.status, 1);
    EXPECT_EQ(inBootloader.OutLines(), expected);
}

TEST_F(Maintenance, RebootRefusedStillCountsAsSent) {
    auto& controller = world.Add<ControllerModel>();
    controller.refuseSetReports = 100;
    const RunResult run = RunTool({"-b"});
    EXPECT_EQ(run.status, 0);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kRebootSent);
    EXPECT_EQ(Steps(controller), Transcript{"reboot refused x 100"});
}

TEST_F(Maintenance, ResetFromBootloader) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult run = RunTool({"-R"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kResetSent}));
    EXPECT_EQ(Steps(controller), Transcript{"reset"});
    EXPECT_EQ(controller.resetsFromBootloader, 1);
    world.Advance(controller.rebootDelayMs);
    EXPECT_EQ(controller.productId, 0x1102);
}

TEST_F(Maintenance, ResetWithTheApplicationRunningFailsQuietly) {
    world.Add<ControllerModel>();
    const RunResult run = RunTool({"-R"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), Transcript{kSendingToController});
}

TEST_F(Maintenance, UnitSerialIsCutToSixteenCharactersThenTheControllerRestarts) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult run = RunTool({"-S", "SN0123456789ABCDEFGH"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kSerialSent}));
    EXPECT_EQ(std::string(controller.unitSerial.begin(), controller.unitSerial.end()), "SN0123456789ABCD");
    // The serial, then at once the restart, with nothing in between.
    EXPECT_EQ(Steps(controller), (Transcript{"serial SN0123456789ABCD", "reset"}));
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(Maintenance, UnitSerialFailures) {
    const Transcript expected = {kSendingToController, kOpenError};
    world.Add<ControllerModel>();
    const RunResult appRunning = RunTool({"-S", "ABC"});
    EXPECT_EQ(appRunning.status, 1);
    EXPECT_EQ(appRunning.OutLines(), expected);

    world.Reset();
    auto& refusing = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    refusing.refuseSetReports = 100;
    const RunResult refused = RunTool({"-S", "ABC"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.OutLines(), expected);
    EXPECT_EQ(refusing.resetsFromBootloader, 0);
}

TEST_F(Maintenance, DebugPrefixChangesNothingWithoutAnAcknowledgement) {
    world.Add<ControllerModel>();
    const RunResult run = RunTool({"-d", "-b"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

}  // namespace
