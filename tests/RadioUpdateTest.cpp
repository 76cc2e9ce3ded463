// The radio firmware update through the controller, as device transcripts:
// which devices are plugged in, the command line, the lines printed, the
// reports the radio's host received and the pauses the tool made.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/QuorlControllerRadioDevice.h"
#include "sim/DongleAppModel.h"
#include "sim/RadioModel.h"
#include "sim/ReferenceChecksum.h"
#include "tests/TestSupport.h"

namespace {

using sim::Bytes;
using sim::ControllerModel;
using Transcript = std::vector<std::string>;

const std::string kUpdating = "Updating radio firmware";
const std::string kRebootSent = "Sent reboot into bootloader.";
const std::string kViaUsb = "Attempting to update via USB (legacy bootloader)...";
const std::string kViaBootloader = "Attempting to update via bootloader...";
const std::string kViaWireless = "Attempting to update via wireless...";
const std::string kOpenError = "Error opening device.";
const std::string kUpdateError = "Error updating firmware.";

// A command report as the device receives it: code, length, payload, zeros.
Bytes Report(std::uint8_t code, const Bytes& payload = {}) {
    Bytes report(64, 0);
    report[0] = code;
    report[1] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), report.begin() + 2);
    return report;
}

Bytes RadioChecksum(const Bytes& image) {
    const auto value = sim::ReferenceChecksum(image, -1);
    return {value.begin(), value.end()};
}

// Begin, the image in 48-byte pieces from its first byte, the checksum.
std::vector<Bytes> RadioUpdateReports(const Bytes& image) {
    std::vector<Bytes> reports = {Report(0x97)};
    for (std::size_t at = 0; at < image.size(); at += 48) {
        const std::size_t n = std::min<std::size_t>(48, image.size() - at);
        reports.push_back(Report(0x98, Bytes(image.begin() + at, image.begin() + at + n)));
    }
    reports.push_back(Report(0x99, RadioChecksum(image)));
    return reports;
}

Transcript EngineLines(const Bytes& image) {
    std::ostringstream digits;
    for (std::uint8_t byte : RadioChecksum(image)) {
        digits << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte);
    }
    return {"Image checksum: " + digits.str(), "Starting firmware update...", "Transfering data...",
            "Verifying..."};
}

Transcript Join(std::initializer_list<Transcript> parts) {
    Transcript all;
    for (const Transcript& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

sim::RadioModel& RadioOf(ControllerModel& host) { return *host.Extension<sim::RadioModel>(); }

const Bytes kRebootMagic = Report(0x95, {0x5E, 0x71, 0xD2, 0x3A});

// What the wired controller receives: the reboot request, then the radio update.
std::vector<Bytes> RebootThenRadioUpdateReports(const Bytes& image) {
    std::vector<Bytes> reports = {kRebootMagic};
    const auto radio = RadioUpdateReports(image);
    reports.insert(reports.end(), radio.begin(), radio.end());
    return reports;
}

class RadioUpdate : public SimTest {
protected:
    const Bytes image = PatternBytes(2500, 7);  // 52 whole pieces and one of 4 bytes
    TempFile file{image, "_module.bin"};
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
                  Join({{kUpdating, kViaUsb, kOpenError, kViaBootloader}, EngineLines(image),
                        {kUpdateError, kViaWireless}, EngineLines(image),
                        {"Successfully updated firmware."}}));
        EXPECT_TRUE(RadioOf(controller).firmware.empty());
        EXPECT_EQ(RadioOf(dongle).firmware, image);
    }
};

TEST_F(RadioUpdate, SucceedsOverTheControllersApplicationAfterTheRebootRequest) {
    auto& controller = world.Add<ControllerModel>();
    controller.ignoreReboot = true;  // the application stays and takes the radio commands

    const RunResult run = Run();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), Join({{kUpdating, kRebootSent, kViaUsb}, EngineLines(image),
                                    {"Successfully updated firmware."}}));
    EXPECT_EQ(controller.SentReports(), RebootThenRadioUpdateReports(image));
    EXPECT_EQ(RadioOf(controller).firmware, image);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002) + world.OpenAttemptsFor(0x1142), 0u);
}

TEST_F(RadioUpdate, SucceedsOverTheBootloaderOnceTheControllerIsBack) {
    auto& controller = world.Add<ControllerModel>();

    const RunResult run = Run();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), Join({{kUpdating, kRebootSent, kViaUsb, kOpenError, kViaBootloader},
                                    EngineLines(image), {"Successfully updated firmware."}}));
    EXPECT_EQ(controller.SentReports(), RebootThenRadioUpdateReports(image));
    EXPECT_EQ(RadioOf(controller).firmware, image);
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
    EXPECT_EQ(run.OutLines(),
              Join({{kUpdating, kViaUsb, kOpenError, kViaBootloader, kOpenError, kViaWireless},
                    EngineLines(image), {"Successfully updated firmware."}}));
    EXPECT_EQ(dongle.SentReports(), RadioUpdateReports(image));
    EXPECT_EQ(RadioOf(dongle).firmware, image);
}

TEST_F(RadioUpdate, NoDeviceAtAllFailsEveryRouteAfterWaitingForTheBootloader) {
    const RunResult run = Run();

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdating, kViaUsb, kOpenError, kViaBootloader,
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
    EXPECT_EQ(run.OutLines(), Transcript{kUpdating});
    EXPECT_EQ(run.ErrLines(), Transcript{"Unable to open: " + path});
    EXPECT_TRUE(controller.SentReports().empty());
    EXPECT_TRUE(bootloader.SentReports().empty());
    EXPECT_TRUE(dongle.SentReports().empty());
}

TEST_F(RadioUpdate, VerificationFailureMovesOnToTheNextRoute) {
    ExpectWirelessTakesOverFromTheBootloader(
        [](ControllerModel& controller) { RadioOf(controller).verifyStatus = 3; });
}

// A radio that never took the checksum cannot have verified the image: the
// route fails instead of claiming success, and the next route is tried.
TEST_F(RadioUpdate, ChecksumNotTakenIsNotReportedAsUpdated) {
    // Ahead of the radio, a link that stalls every checksum report.
    struct RefuseChecksum : sim::CommandExtension {
        bool OnCommand(ControllerModel&, std::uint8_t code, const Bytes&, bool& accepted) override {
            accepted = false;
            return code == 0x99;
        }
    };
    ExpectWirelessTakesOverFromTheBootloader([](ControllerModel& controller) {
        controller.extensions.insert(controller.extensions.begin(),
                                     std::make_unique<RefuseChecksum>());
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
              Join({{kUpdating, kViaUsb, kOpenError, kViaBootloader}, untilTheLostReport,
                    {kUpdateError, kViaWireless, kOpenError}}));
    EXPECT_TRUE(RadioOf(controller).firmware.empty());
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
    std::string transfers;
    for (const sim::WireRecord& record : controller.wire) {
        transfers += record.transfer == sim::Transfer::GetFeature ? 'G' : 'S';
    }
    EXPECT_EQ(transfers, std::string(107, 'S') + "GGGG");
    EXPECT_EQ(RadioOf(controller).firmware, longer);
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

    std::size_t AckReads() const {
        return static_cast<std::size_t>(
            std::count_if(controller->wire.begin(), controller->wire.end(),
                          [](const auto& r) { return r.transfer == sim::Transfer::GetFeature; }));
    }
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
    EXPECT_EQ(AckReads(), 0u);

    // A checksum that does not match what the radio received: one poll, the failure.
    ASSERT_EQ(device.StartFirmwareUpdate(), 0);
    ASSERT_EQ(device.SendFirmwareData(piece.data(), 48), 0);
    const Bytes wrong(16, 0xA5);
    ASSERT_EQ(device.SendImageChecksum(wrong.data()), 0);
    EXPECT_TRUE(device.VerifySent());
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(AckReads(), 1u);
    EXPECT_TRUE(RadioOf(*controller).firmware.empty());
    EXPECT_EQ(device.ResetFromBootloader(), 0);
    EXPECT_EQ(controller->SentReports(0x95).size(), 0u);
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
    EXPECT_EQ(RadioOf(*controller).received, both);
}

}  // namespace
