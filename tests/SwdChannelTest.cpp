// The SWD channel through the controller: the requests on the wire, the
// pause and acknowledgement behind each, and reading radio flash back.
#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "device/QuorlControllerRadioSWDDevice.h"
#include "sim/ControllerModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

// The 64 bytes the controller sees for a request: the bytes given, zero behind.
sim::Bytes Report(const std::string& hex) { return ReportBytes(hex); }

// A request whose first bytes are given in hexadecimal, the data after them.
sim::Bytes Report(const std::string& hex, const Bytes& data) {
    return ReportBytes(hex + HexDigits(data.data(), data.size()));
}

class SwdChannel : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        controller = &world.Add<sim::ControllerModel>();
        probe = &*controller->swdProbe;
        ASSERT_TRUE(radio.Open());
    }
    // In SWD mode, with the wire log and the pauses of getting there cleared.
    void StartSwd() {
        ASSERT_EQ(radio.StartFirmwareUpdate(), 0);
        controller->wire.clear();
        startPauses = world.Pauses().size();
    }
    std::vector<std::uint32_t> PausesSinceStart() const {
        return {world.Pauses().begin() + static_cast<long>(startPauses), world.Pauses().end()};
    }

    sim::ControllerModel* controller = nullptr;
    sim::SwdProbeModel* probe = nullptr;
    QuorlControllerRadioSWDDevice radio{kControllerAppProductId};
    std::size_t startPauses = 0;
};

TEST_F(SwdChannel, StartSendsTheMagicPausesSixMsThenTakesTheAcknowledgement) {
    EXPECT_EQ(radio.StartFirmwareUpdate(), 0);
    ASSERT_EQ(controller->wire.size(), 2u);
    EXPECT_EQ(controller->wire[0].transfer, sim::Transfer::SetFeature);
    EXPECT_EQ(controller->wire[0].bytes, Report("C6 04 9C 4E 27 B5"));
    EXPECT_EQ(controller->wire[1].transfer, sim::Transfer::GetFeature);
    EXPECT_EQ(controller->wire[1].timeMs, 6u);
    EXPECT_EQ(world.Pauses(), (std::vector<std::uint32_t>{6}));
    EXPECT_TRUE(probe->Active(*controller));
}

TEST_F(SwdChannel, WritesCarryTheAddressLeastSignificantByteFirst) {
    StartSwd();
    const auto full = PatternBytes(56, 3);
    EXPECT_EQ(radio.SwdWriteMemory(0x00000400, full.data(), 56), 0);
    const std::vector<std::uint8_t> three = {0x11, 0x22, 0x33};
    EXPECT_EQ(radio.SwdWriteMemory(98304, three.data(), 3), 0);

    const auto sent = controller->SentReports(sim::kSwdWrite);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Report("C7 3C 00 04 00 00", full));  // 62 bytes, then zero
    EXPECT_EQ(sent[1], Report("C7 07 00 80 01 00 11 22 33"));
    EXPECT_EQ(probe->flash.Read(0x400, 56), full);
    EXPECT_EQ(probe->flash.Read(98304, 3), three);
    // Each write: 1 ms for the probe, then one acknowledgement poll.
    EXPECT_EQ(PausesSinceStart(), (std::vector<std::uint32_t>{1, 1}));
}

TEST_F(SwdChannel, ErasesAndTheEndOfSwdMode) {
    StartSwd();
    EXPECT_EQ(radio.SwdEraseSector(0x18000), 0);
    EXPECT_EQ(radio.SwdEraseChip(), 0);
    std::array<std::uint8_t, 16> checksum{};
    checksum.fill(0xAA);
    EXPECT_EQ(radio.SendImageChecksum(checksum.data()), 0);  // ends SWD mode, checksum unused

    EXPECT_EQ(controller->SentReports(),
              (std::vector<sim::Bytes>{Report("C9 04 00 80 01 00"), Report("CA 00"),
                                       Report("CB 00")}));
    EXPECT_EQ(PausesSinceStart(), (std::vector<std::uint32_t>{23, 23}));
    EXPECT_EQ(probe->flash.pagesErased, (std::vector<std::uint32_t>{0x18000}));
    EXPECT_EQ(probe->flash.chipErases, 1);
    EXPECT_EQ(probe->ends, 1);
    EXPECT_FALSE(probe->Active(*controller));
}

TEST_F(SwdChannel, AcceptedRequestsWithAFailedAcknowledgementFail) {
    probe->startFailures = 1;
    EXPECT_EQ(radio.StartFirmwareUpdate(), -1);
    EXPECT_EQ(radio.StartFirmwareUpdate(), 0);

    const std::vector<std::uint8_t> data(8, 0x00);
    probe->failWriteAt = 0x207;
    EXPECT_EQ(radio.SwdWriteMemory(0x200, data.data(), 8), -1);
    EXPECT_EQ(radio.SwdWriteMemory(0x208, data.data(), 8), 0);
    probe->failEraseAt = 0x7FF;
    EXPECT_EQ(radio.SwdEraseSector(0x400), -1);
    EXPECT_EQ(radio.SwdEraseSector(0x800), 0);
    probe->chipEraseFailures = 1;
    EXPECT_EQ(radio.SwdEraseChip(), -1);
    EXPECT_EQ(radio.SwdEraseChip(), 0);
    // Every one of them was taken by the controller and acknowledged.
    EXPECT_EQ(controller->SentReports().size(), 8u);
}

TEST_F(SwdChannel, OnlyAFinalSuccessCounts) {
    StartSwd();
    // Busy beyond the 100 polls: the busy status is left, and that is no success.
    controller->busyPolls = 150;
    EXPECT_EQ(radio.SwdEraseChip(), -1);
    // A failed acknowledgement read.
    controller->busyPolls = 0;
    controller->ack.failReads = 1;
    EXPECT_EQ(radio.SwdEraseChip(), -1);
    // Busy for a while, then done.
    controller->busyPolls = 5;
    EXPECT_EQ(radio.SwdEraseChip(), 0);
}

TEST_F(SwdChannel, ARefusedRequestFailsWithoutPauseOrPoll) {
    // Not in SWD mode: the controller refuses, and the HID layer's own
    // retries are all that is spent.
    const std::vector<std::uint8_t> data(4, 0);
    EXPECT_EQ(radio.SwdWriteMemory(0, data.data(), 4), -1);
    EXPECT_EQ(radio.SwdEraseSector(0), -1);
    EXPECT_EQ(radio.SwdEraseChip(), -1);
    EXPECT_EQ(StepsWithReplies(*controller),
              (Transcript{"swd write 0 4 refused x 100", "swd erase 0 refused x 100",
                          "swd chip erase refused x 100"}));
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(297, 6));
    EXPECT_EQ(probe->flash.chipErases, 0);
}

TEST_F(SwdChannel, ClosedDeviceSendsNothingExceptTheRestartAttempt) {
    QuorlControllerRadioSWDDevice closed(kControllerAppProductId);
    const std::vector<std::uint8_t> data(4, 0);
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(closed.StartFirmwareUpdate(), -1);
    EXPECT_EQ(closed.SwdWriteMemory(0, data.data(), 4), -1);
    EXPECT_EQ(closed.SwdReadMemory(buffer.data(), 0, 8), -1);
    EXPECT_EQ(closed.SwdEraseSector(0), -1);
    EXPECT_EQ(closed.SwdEraseChip(), -1);
    EXPECT_EQ(closed.SendImageChecksum(nullptr), -1);
    EXPECT_EQ(closed.ResetFromBootloader(), -1);
    EXPECT_TRUE(controller->wire.empty());
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(SwdChannel, RestartMakesTheControllerComeBackInItsApplication) {
    StartSwd();
    EXPECT_EQ(radio.ResetFromBootloader(), 0);
    EXPECT_EQ(controller->SentReports(), (std::vector<sim::Bytes>{Report("95 00")}));
    EXPECT_EQ(probe->restarts, 1);
    EXPECT_FALSE(controller->Present());
    world.Advance(controller->rebootDelayMs);
    EXPECT_TRUE(controller->Present());
    EXPECT_EQ(controller->productId, kControllerAppProductId);
    EXPECT_FALSE(probe->Active(*controller));  // SWD mode ends with the restart
}

TEST_F(SwdChannel, LayoutOfARadioImage) {
    EXPECT_EQ(radio.GetTransferChunkSize(), 56);
    EXPECT_EQ(radio.GetImageStartOffset(), 0);
    EXPECT_EQ(radio.GetChecksumPadSize(), -1);
    EXPECT_EQ(radio.GetImageHeaderSize(), 0);
}

TEST_F(SwdChannel, ReadReturnsTheDataBytesOfTheReply) {
    const auto old = PatternBytes(4096, 9);
    probe->flash.Fill(old);
    StartSwd();
    std::array<std::uint8_t, 58> buffer{};
    ASSERT_EQ(radio.SwdReadMemory(buffer.data(), 0x1234, 58), 0);
    EXPECT_EQ(sim::Bytes(buffer.begin(), buffer.end()), probe->flash.Read(0x1234, 58));
    EXPECT_EQ(controller->SentReports(), (std::vector<sim::Bytes>{Report("C8 05 34 12 00 00 3A")}));

    std::array<std::uint8_t, 1> one{};
    ASSERT_EQ(radio.SwdReadMemory(one.data(), 0x20, 1), 0);
    EXPECT_EQ(one[0], old[0x20]);
    EXPECT_TRUE(world.Pauses().size() == startPauses);  // answered on the first poll
    // Each reply names its read: command, length, then the read's address.
    std::vector<sim::Bytes> headers;
    for (const sim::WireRecord& record : controller->wire) {
        if (record.transfer == sim::Transfer::GetFeature && record.bytes.size() >= 6) {
            headers.emplace_back(record.bytes.begin(), record.bytes.begin() + 6);
        }
    }
    EXPECT_EQ(headers, (std::vector<sim::Bytes>{HexBytes("C8 3E 34 12 00 00"),
                                                HexBytes("C8 05 20 00 00 00")}));
}

// A reply that still holds the previous read (same command byte, that read's
// address and data) is not this read's answer: it is polled past, and a read
// that gets nothing else fails with nothing copied.
TEST_F(SwdChannel, ReadTakesOnlyTheReplyThatNamesItsAddress) {
    probe->flash.Fill(PatternBytes(4096, 9));
    StartSwd();
    std::array<std::uint8_t, 16> first{};
    ASSERT_EQ(radio.SwdReadMemory(first.data(), 0x100, 16), 0);
    std::array<std::uint8_t, 16> buffer{};
    probe->staleReadReplies = 1;
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0x200, 16), 0);
    EXPECT_EQ(sim::Bytes(buffer.begin(), buffer.end()), probe->flash.Read(0x200, 16));
    EXPECT_EQ(PausesSinceStart(), std::vector<std::uint32_t>{6});  // one poll passed over

    buffer.fill(0x77);
    probe->staleReadReplies = 100;
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0x300, 16), -1);
    EXPECT_EQ(sim::Bytes(buffer.begin(), buffer.end()), sim::Bytes(16, 0x77));  // nothing copied
}

// The reply's length byte is the firmware's to fill and says nothing the
// read needs (its data stands at offset 6 whatever it holds); its command
// byte and its address, all four bytes of it, say which read it answers.
TEST_F(SwdChannel, ReadTakesAnyLengthByteButEveryAddressByte) {
    probe->flash.Fill(PatternBytes(4096, 9));
    StartSwd();
    constexpr std::uint32_t kAddress = 0x20304;  // near the top of the flash: 3 bytes used
    std::array<std::uint8_t, 16> buffer{};
    for (const std::uint8_t length : {0x00, 0x10, 0x14, 0xFF}) {
        SCOPED_TRACE(length);
        probe->readReplyLength = length;
        buffer.fill(0x77);
        EXPECT_EQ(radio.SwdReadMemory(buffer.data(), kAddress, 16), 0);
        EXPECT_EQ(sim::Bytes(buffer.begin(), buffer.end()), probe->flash.Read(kAddress, 16));
    }
    probe->readReplyLength.reset();
    for (const std::uint32_t otherByte : {0x000000FFu, 0x0000FF00u, 0x00FF0000u, 0xFF000000u}) {
        SCOPED_TRACE(otherByte);
        probe->readReplyAddress = kAddress ^ otherByte;
        buffer.fill(0x77);
        EXPECT_EQ(radio.SwdReadMemory(buffer.data(), kAddress, 16), -1);
        EXPECT_EQ(sim::Bytes(buffer.begin(), buffer.end()), sim::Bytes(16, 0x77));
    }
}

TEST_F(SwdChannel, ReadPollsUpToAHundredTimesForItsReply) {
    StartSwd();
    std::array<std::uint8_t, 16> buffer{};
    buffer.fill(0x77);
    probe->withheldReadReplies = 99;
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0, 16), 0);
    EXPECT_EQ(buffer[0], 0xFF);

    controller->wire.clear();
    const std::size_t before = world.Pauses().size();
    buffer.fill(0x77);
    probe->withheldReadReplies = 100;
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0, 16), -1);
    // The request and 100 polls, each answered by the start's acknowledgement.
    EXPECT_EQ(StepsWithReplies(*controller), (Transcript{"swd read 0 16", "ack 0 x 100"}));
    EXPECT_EQ(std::vector<std::uint32_t>(world.Pauses().begin() + static_cast<long>(before),
                                         world.Pauses().end()),
              std::vector<std::uint32_t>(99, 6));
    EXPECT_EQ(buffer[0], 0x77);  // nothing copied
}

TEST_F(SwdChannel, ReadReportsShortRepliesAndRefusedRequests) {
    std::array<std::uint8_t, 8> buffer{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0, 8), -1);  // not in SWD mode: refused
    StartSwd();
    probe->shortReadReplies = 1;
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0, 8), 0);
    EXPECT_EQ(radio.SwdReadMemory(buffer.data(), 0, 59), -1);  // more than a reply holds
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Write for the read didn't work.\n"
              "Got response, length 3 and ID \xC8\n");
}

TEST(RadioFlashModel, ProgrammingOnlyClearsBits) {
    sim::RadioFlashModel flash;
    flash.Fill({0x0F});
    EXPECT_TRUE(flash.Write(10, {0xF0, 0x0F}));
    EXPECT_EQ(flash.Read(10, 2), HexBytes("00 0F"));
    EXPECT_EQ(flash.corruptedBytes, 1u);
    EXPECT_TRUE(flash.ErasePage(1023));
    EXPECT_EQ(flash.Read(0, 1024), sim::Bytes(1024, 0xFF));
    EXPECT_EQ(flash.Read(1024, 1), HexBytes("0F"));
    EXPECT_FALSE(flash.Write(flash.Size() - 1, {1, 2}));
    EXPECT_FALSE(flash.ErasePage(flash.Size()));
}

}  // namespace
