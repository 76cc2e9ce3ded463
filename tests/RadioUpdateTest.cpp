// The radio firmware update through the controller, as device transcripts:
// which devices are plugged in, the command line, the lines printed, the
// steps the radio's host received and the pauses the tool made.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/QuorlControllerRadioDevice.h"
#include "sim/DongleAppModel.h"
#include "sim/ReferenceChecksum.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using sim::Bytes;
using sim::ControllerModel;

// The radio's image checksum: from the image's first byte, without padding.
Checksum128 RadioChecksum(const Bytes& image) { return sim::ReferenceChecksum(image, -1); }

Transcript EngineLines(const Bytes& image) { return UpdateEngineLines(RadioChecksum(image)); }

// The image arrived whole, and with its checksum.
void ExpectRadioReceived(const sim::RadioModel& radio, const Bytes& image) {
    EXPECT_EQ(radio.firmware, image);
    EXPECT_EQ(radio.checksumReceived, RadioChecksum(image));
}

class RadioUpdate : public SimTest {
protected:
    const Bytes image = PatternBytes(2500, 7);
    TempFile file{image, "_module.bin"};
    // Begin, the image in 48-byte pieces from its first byte, the checksum.
    const Transcript radioUpdate = {"radio begin", "radio data 48 x 52", "radio data 4",
                                    "radio checksum"};
    RunResult Run() { return RunTool({file.Path()}); }

    // The radio behind the controller's bootloader shows a fault: that route
    // fails in the engine and the dongle's wireless link takes over.
    void ExpectWirelessTakesOverFromTheBootloader(
        const std::function<void(ControllerModel&)>& fault) {
        auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
        fault(controller);
        auto& dongle = world.Add<sim::DongleAppModel>();

        const RunResult run = Run();

        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.OutLines(),
                  Join({{kUpdatingRadio, kViaUsbLegacy, kOpenError, kViaBootloader},
                        EngineLines(image), {kUpdateError, kViaWireless}, EngineLines(image),
                        {kUpdated}}));
        EXPECT_TRUE(controller.radio->firmware.empty());
        ExpectRadioReceived(*dongle.radio, image);
    }
};

TEST_F(RadioUpdate, SucceedsOverTheControllersApplicationAfterTheRebootRequest) {
    auto& controller = world.Add<ControllerModel>();
    controller.ignoreReboot = true;  // the application stays and takes the radio commands

    const RunResult run = Run();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), Join({{kUpdatingRadio, kRebootSent, kViaUsbLegacy},
                                    EngineLines(image), {kUpdated}}));
    EXPECT_EQ(Steps(controller), Join({{"reboot"}, radioUpdate}));
    ExpectRadioReceived(*controller.radio, image);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002) + world.OpenAttemptsFor(0x1142), 0u);
}

TEST_F(RadioUpdate, SucceedsOverTheBootloaderOnceTheControllerIsBack) {
    auto& controller = world.Add<ControllerModel>();

    const RunResult run = Run();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(),
              Join({{kUpdatingRadio, kRebootSent, kViaUsbLegacy, kOpenError, kViaBootloader},
                    EngineLines(image), {kUpdated}}));
    EXPECT_EQ(Steps(controller), Join({{"reboot"}, radioUpdate}));
    ExpectRadioReceived(*controller.radio, image);
    EXPECT_TRUE(controller.firmware.empty());  // the controller's own flash is not touched
    // The 1.5 s restart costs three pauses of the open retries.
    ASSERT_GE(world.Pauses().size(), 4u);
    EXPECT_EQ(std::vector<std::uint32_t>(world.Pauses().begin(), world.Pauses().begin() + 4),
              (std::vector<std::uint32_t>{500, 500, 500, 26}));
}

TEST_F(RadioUpdate, SucceedsOverTheWirelessLinkWhenNoControllerIsWired) {
    auto& dongle = world.Add<sim::DongleAppModel>();

    const RunResult run = Run();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), Join({{kUpdatingRadio, kViaUsbLegacy, kOpenError, kViaBootloader,
                                     kOpenError, kViaWireless},
                                    EngineLines(image), {kUpdated}}));
    EXPECT_EQ(Steps(dongle), radioUpdate);
    ExpectRadioReceived(*dongle.radio, image);
}

TEST_F(RadioUpdate, NoDeviceAtAllFailsEveryRouteAfterWaitingForTheBootloader) {
    const RunResult run = Run();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingRadio, kViaUsbLegacy, kOpenError, kViaBootloader,
                                          kOpenError, kViaWireless, kOpenError}));
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(19, 500));
    EXPECT_EQ(world.OpenAttemptsFor(0x1102), 2u);  // the reboot request and the first route
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 20u);
    EXPECT_EQ(world.OpenAttemptsFor(0x1142), 1u);
}

// A mistyped path is found before the reboot and before any route.
TEST_F(RadioUpdate, MissingImageIsFoundBeforeAnyRoute) {
    auto& controller = world.Add<ControllerModel>();
    controller.ignoreReboot = true;
    auto& bootloader = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    auto& dongle = world.Add<sim::DongleAppModel>();
    const std::string path = "/nonexistent/radio_module.bin";

    const RunResult run = RunTool({path});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), Transcript{kUpdatingRadio});
    EXPECT_EQ(run.ErrLines(), Transcript{UnableToOpen(path)});
    EXPECT_TRUE(Steps(controller).empty());
    EXPECT_TRUE(Steps(bootloader).empty());
    EXPECT_TRUE(Steps(dongle).empty());
}

TEST_F(RadioUpdate, VerificationFailureMovesOnToTheNextRoute) {
    ExpectWirelessTakesOverFromTheBootloader(
        [](ControllerModel& controller) { controller.radio->verifyStatus = 3; });
}

// A radio that never took the checksum cannot have verified the image: the
// route fails instead of claiming success, and the next route is tried.
TEST_F(RadioUpdate, ChecksumNotTakenIsNotReportedAsUpdated) {
    // Ahead of the radio, a link that stalls every checksum report.
    struct RefuseChecksum : sim::CommandExtension {
        bool OnCommand(ControllerModel&, std::uint8_t code, const Bytes&, bool& accepted) override {
            accepted = false;
            return code == sim::kRadioChecksum;
        }
    };
    ExpectWirelessTakesOverFromTheBootloader([](ControllerModel& controller) {
        controller.extensions.push_back(std::make_unique<RefuseChecksum>());
    });
}

TEST_F(RadioUpdate, UnpluggedBeforeTheChecksumIsNotReportedAsUpdated) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.unplugAfterReports = 10;

    const RunResult run = Run();

    // The engine stops at the first data report that did not get through.
    Transcript untilTheLostReport = EngineLines(image);
    untilTheLostReport.pop_back();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(),
              Join({{kUpdatingRadio, kViaUsbLegacy, kOpenError, kViaBootloader}, untilTheLostReport,
                    {kUpdateError, kViaWireless, kOpenError}}));
    EXPECT_TRUE(controller.radio->firmware.empty());
}

// Pacing: 26 ms after the piece that opens a 1024-byte page and after the
// piece that reaches the next page, 2 ms after every other piece; then the
// engine's 100 ms before the single acknowledgement, polled only now.
TEST_F(RadioUpdate, DataIsPacedByRadioPagesAndAcknowledgedOnceAfterTheChecksum) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.busyPolls = 3;
    const Bytes longer = PatternBytes(5000, 3);  // pieces at 0, 48, ..., 4992
    TempFile longerFile(longer, "_module.bin");

    ASSERT_EQ(RunTool({longerFile.Path()}).status, 0);

    const std::vector<std::size_t> pageEdges = {0, 1008, 2016, 3024, 3072, 4080};
    std::vector<std::uint32_t> expected;
    for (std::size_t at = 0; at < longer.size(); at += 48) {
        const bool edge = std::find(pageEdges.begin(), pageEdges.end(), at) != pageEdges.end();
        expected.push_back(edge ? 26 : 2);
    }
    expected.insert(expected.end(), {100, 6, 6, 6});
    EXPECT_EQ(world.Pauses(), expected);

    // Begin, 105 pieces and the checksum, and only then the acknowledgement
    // reads: three busy answers and the final one.
    EXPECT_EQ(StepsWithReplies(controller),
              (Transcript{"radio begin", "radio data 48 x 104", "radio data 8", "radio checksum",
                          "ack busy x 3", "ack 0"}));
    EXPECT_EQ(controller.radio->firmware, longer);
}

// The radio device on its own, against the controller's bootloader.
class RadioDevice : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        controller = &world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    }
    ControllerModel* controller = nullptr;
    QuorlControllerRadioDevice device{0x1002};
    const Bytes piece = PatternBytes(48, 5);
};

TEST_F(RadioDevice, UnopenedSendsNothing) {
    std::uint16_t status = 9;
    EXPECT_EQ(device.StartFirmwareUpdate(), -1);
    EXPECT_EQ(device.SendFirmwareData(piece.data(), 48), -1);
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(device.ResetFromBootloader(), 0);
    EXPECT_EQ(device.GetChecksumPadSize(), -1);  // the release tooling's radio profile
    EXPECT_TRUE(world.OpenAttempts().empty());
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(RadioDevice, WaitForAckReadsNothingUntilTheChecksumIsAccepted) {
    ASSERT_TRUE(device.Open());
    controller->ack.Arm(7, 0);  // a failing acknowledgement is waiting, unread
    std::uint16_t status = 9;
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(StepsWithReplies(*controller).empty());

    // A checksum that does not match what the radio received: one poll, the failure.
    ASSERT_EQ(device.StartFirmwareUpdate(), 0);
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);
    const Bytes wrong(16, 0xA5);
    ASSERT_EQ(device.SendImageChecksum(wrong.data()), 0);
    EXPECT_TRUE(device.VerifySent());
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(controller->radio->firmware.empty());
    // The reset sends nothing.
    EXPECT_EQ(device.ResetFromBootloader(), 0);
    EXPECT_EQ(StepsWithReplies(*controller),
              (Transcript{"radio begin", "radio data 48", "radio checksum", "ack 1"}));
}

TEST_F(RadioDevice, PieceThatReachesThePageEdgeAndTheNextOneBothPauseLong) {
    ASSERT_TRUE(device.Open());
    ASSERT_EQ(device.StartFirmwareUpdate(), 0);
    for (int i = 0; i < 21; ++i) {
        ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);  // up to 1008
    }
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 16), 0);  // 1008 to 1024
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);  // opens the next page
    std::vector<std::uint32_t> expected = {26};
    expected.insert(expected.end(), 20, 2);
    expected.insert(expected.end(), {26, 26});
    EXPECT_EQ(world.Pauses(), expected);
    EXPECT_EQ(device.BytesSent(), 1072u);
    // A new update starts counting afresh: its first piece opens a page.
    ASSERT_EQ(device.StartFirmwareUpdate(), 0);
    EXPECT_EQ(device.BytesSent(), 0u);
}

TEST_F(RadioDevice, RefusedDataLeavesTheCountAndThePacingAlone) {
    ASSERT_TRUE(device.Open());
    ASSERT_EQ(device.StartFirmwareUpdate(), 0);
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);
    controller->refuseSetReports = 100;  // every retry of the next report is refused

    EXPECT_EQ(device.SendFirmwareData(piece.data(), 48), -1);
    EXPECT_EQ(device.BytesSent(), 48u);
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);
    EXPECT_EQ(device.BytesSent(), 96u);

    std::vector<std::uint32_t> expected = {26};
    expected.insert(expected.end(), 99, 6);  // the HID layer's retries, no data pause
    expected.push_back(2);
    EXPECT_EQ(world.Pauses(), expected);
    Bytes both = piece;
    both.insert(both.end(), piece.begin(), piece.end());
    EXPECT_EQ(controller->radio->received, both);
}

}  // namespace
