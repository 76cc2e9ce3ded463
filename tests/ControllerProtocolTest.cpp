// The controller's command reports and its acknowledgement wait, byte for byte.
#include <gtest/gtest.h>

#include "device/DebugOutput.h"
#include "device/QuorlControllerDevice.h"
#include "sim/ControllerModel.h"
#include "testsupport/Bytes.h"
#include "tests/SimTest.h"

namespace {

class ControllerProtocol : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        g_debugOutput = true;
    }
    void TearDown() override {
        g_debugOutput = false;
        SimTest::TearDown();
    }
    sim::ControllerModel& Bootloader() {
        auto& model = world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
        EXPECT_TRUE(device.Open());
        return model;
    }
    // The report as it went out, cut to its first n bytes.
    static sim::Bytes Head(const sim::Bytes& report, std::size_t n) {
        return sim::Bytes(report.begin(), report.begin() + n);
    }
    QuorlControllerDevice device{0x1002};
};

TEST_F(ControllerProtocol, UnitSerialIsSixteenBytesAndAZero) {
    auto& model = Bootloader();
    EXPECT_EQ(device.SetUnitSerial("ABC"), 0);
    EXPECT_EQ(model.wire.back().bytes, ReportBytes("A9 11 41 42 43"));

    const char twenty[] = "ABCDEFGHIJKLMNOPQRST";
    EXPECT_EQ(device.SetUnitSerial(twenty), 0);
    EXPECT_EQ(Head(model.wire.back().bytes, 19),
              HexBytes("A9 11 4142434445464748494A4B4C4D4E4F50 00"));
    EXPECT_EQ(std::string(model.unitSerial.begin(), model.unitSerial.end()), "ABCDEFGHIJKLMNOP");
}

TEST_F(ControllerProtocol, BoardRevisionIsLittleEndian) {
    auto& model = Bootloader();
    EXPECT_EQ(device.SetBoardRevision(7), 0);
    EXPECT_EQ(Head(model.wire.back().bytes, 7), HexBytes("A0 04 07 00 00 00 00"));
    EXPECT_EQ(device.SetBoardRevision(258), 0);
    EXPECT_EQ(Head(model.wire.back().bytes, 6), HexBytes("A0 04 02 01 00 00"));
    EXPECT_EQ(model.boardRevision, 258u);
}

TEST_F(ControllerProtocol, StartPausesOnlyAfterASuccessfulSend) {
    auto& model = Bootloader();
    EXPECT_EQ(device.StartFirmwareUpdate(), 0);
    EXPECT_EQ(Head(model.wire.back().bytes, 3), HexBytes("91 00 00"));
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>{100});

    world.Reset();
    auto& refusing = Bootloader();
    refusing.refuseSetReports = 100;
    EXPECT_EQ(device.StartFirmwareUpdate(), -1);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(99, 6));
}

TEST_F(ControllerProtocol, ApplicationCommands) {
    auto& app = world.Add<sim::ControllerModel>();
    QuorlControllerDevice running(0x1102);
    // The reboot magic goes out without the open check and fails on a closed device.
    EXPECT_EQ(running.RebootIntoBootloader(), -1);
    ASSERT_TRUE(running.Open());
    EXPECT_EQ(running.RebootIntoBootloader(), 0);
    EXPECT_EQ(Head(app.wire.back().bytes, 7), HexBytes("95 04 5E 71 D2 3A 00"));
    EXPECT_EQ(app.rebootsIntoBootloader, 1);
}

TEST_F(ControllerProtocol, AcknowledgementOnFirstRead) {
    auto& model = Bootloader();
    model.ack.Arm(0, 0);
    std::uint16_t status = 77;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack 0 retries 0\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(ControllerProtocol, BusyAnswersArePolledSixMillisecondsApart) {
    auto& model = Bootloader();
    model.ack.Arm(0, 3);
    std::uint16_t status = 77;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack 0 retries 3\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(3, 6));
}

TEST_F(ControllerProtocol, AlwaysBusyEndsAfterHundredReadsWithStatusTwo) {
    auto& model = Bootloader();
    model.ack.Arm(0, 1000);
    std::uint16_t status = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack 2 retries 100\n");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(world.Pauses().size(), 99u);
}

TEST_F(ControllerProtocol, FailedOrShortReadFailsTheWait) {
    auto& model = Bootloader();
    model.ack.Arm(0, 0);
    model.ack.failReads = 1;
    std::uint16_t status = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), -1);
    EXPECT_EQ(status, 0xFFFF);
    model.ack.Arm(0, 2);
    model.ack.shortReplies = 3;
    EXPECT_EQ(device.WaitForAck(status), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack failed  retries 0\nack failed  retries 0\n");
}

TEST_F(ControllerProtocol, ReportsThatAreNotAcknowledgementsArePolledAgain) {
    auto& model = Bootloader();
    model.ack.Arm(5, 0);
    model.ack.malformed = 2;
    std::uint16_t status = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack 5 retries 2\n");
    EXPECT_EQ(status, 5);
}

TEST_F(ControllerProtocol, ClosedDeviceLeavesStatusAlone) {
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    std::uint16_t status = 1234;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(status, 1234);
    const std::uint8_t data[1] = {0};
    EXPECT_EQ(device.StartFirmwareUpdate(), -1);
    EXPECT_EQ(device.SendFirmwareData(data, 1), -1);
    EXPECT_EQ(device.SendImageChecksum(data), -1);
    EXPECT_EQ(device.ResetFromBootloader(), -1);
    EXPECT_EQ(device.SetUnitSerial("A"), -1);
    EXPECT_EQ(device.SetBoardRevision(1), -1);
    EXPECT_EQ(device.RebootIntoIsp(), -1);
}

TEST_F(ControllerProtocol, ControllerImageLayout) {
    EXPECT_EQ(device.GetTransferChunkSize(), 50);
    EXPECT_EQ(device.GetImageStartOffset(), 8192);
    EXPECT_EQ(device.GetChecksumPadSize(), 0);
    EXPECT_EQ(device.GetImageHeaderSize(), 48);
}

TEST_F(ControllerProtocol, HundredReportsWithoutAnAcknowledgementFail) {
    auto& model = Bootloader();
    // Not an acknowledgement, status bytes zero: never taken for success.
    model.ack.malformed = 1000;
    std::uint16_t status = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(device.WaitForAck(status), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ack failed  retries 100\n");
    EXPECT_EQ(status, 0xFFFF);
    EXPECT_EQ(world.Pauses().size(), 99u);
}

}  // namespace
