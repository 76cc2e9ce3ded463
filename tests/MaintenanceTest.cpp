// Rebooting into the bootloader, resetting back, and writing the unit serial.
#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace {

using sim::ControllerModel;
using Lines = std::vector<std::string>;

class Maintenance : public SimTest {
protected:
    void TearDown() override {
        EXPECT_EQ(world.liveHandles, 0);
        SimTest::TearDown();
    }
};

TEST_F(Maintenance, RebootIntoBootloader) {
    auto& controller = world.Add<ControllerModel>();
    const RunResult run = RunTool({"-b", "ignored"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Lines{"Attempting to send to wired controller...", "Sent reboot into bootloader."}));
    EXPECT_EQ(controller.rebootsIntoBootloader, 1);
    world.Advance(controller.rebootDelayMs);
    EXPECT_EQ(controller.productId, 0x1002);
}

TEST_F(Maintenance, RebootWithoutARunningController) {
    const Lines expected = {"Attempting to send to wired controller...", "Unable to reboot into bootloader."};
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
    EXPECT_EQ(run.OutLines().back(), "Sent reboot into bootloader.");
}

TEST_F(Maintenance, ResetFromBootloader) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult run = RunTool({"-R"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Lines{"Attempting to send to wired controller...", "Sent reset from bootloader command."}));
    EXPECT_EQ(controller.resetsFromBootloader, 1);
    world.Advance(controller.rebootDelayMs);
    EXPECT_EQ(controller.productId, 0x1102);
}

TEST_F(Maintenance, ResetWithTheApplicationRunningFailsQuietly) {
    world.Add<ControllerModel>();
    const RunResult run = RunTool({"-R"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Lines{"Attempting to send to wired controller..."}));
}

TEST_F(Maintenance, UnitSerialIsCutToSixteenCharactersThenTheControllerRestarts) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult run = RunTool({"-S", "SN0123456789ABCDEFGH"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (Lines{"Attempting to send to wired controller...",
                                     "Sent the set unit serial command. Resetting..."}));
    EXPECT_EQ(std::string(controller.unitSerial.begin(), controller.unitSerial.end()), "SN0123456789ABCD");
    // The serial, then at once the restart, with nothing in between.
    const auto sent = controller.SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][0], 0xA9);
    EXPECT_EQ(sim::Bytes(sent[1].begin(), sent[1].begin() + 2), HexBytes("95 00"));
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(Maintenance, UnitSerialFailures) {
    const Lines expected = {"Attempting to send to wired controller...", "Error opening device."};
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
