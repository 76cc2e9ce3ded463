// Report framing, feature-report retries and handle lifetime of the HID base,
// against the simulator's hidapi.
#include <gtest/gtest.h>

#include "device/HidDevice.h"
#include "sim/HostConventions.h"
#include "testsupport/Bytes.h"
#include "tests/SimTest.h"

namespace {

// A device that records what it receives and answers a fixed reply.
class EchoModel : public sim::SimDevice {
public:
    EchoModel() : SimDevice(0x28DE, 0x1234, "echo") {}
    std::optional<sim::Bytes> OnGetFeature() override { return reply; }
    std::optional<sim::Bytes> TakeInputReport() override {
        if (input.empty()) {
            return std::nullopt;
        }
        sim::Bytes next = input.front();
        input.erase(input.begin());
        return next;
    }
    sim::Bytes reply;
    std::vector<sim::Bytes> input;
};

class HidDeviceTest : public SimTest {
protected:
    HidDevice device{0x28DE, 0x1234, 64};
};

TEST_F(HidDeviceTest, OpenFailsWithoutDeviceAndCanBeRetried) {
    EXPECT_FALSE(device.Open());
    EXPECT_FALSE(device.IsOpen());
    world.Add<EchoModel>();
    EXPECT_TRUE(device.Open());
    // Opening again closes the old handle first.
    EXPECT_TRUE(device.Open());
    EXPECT_EQ(world.liveHandles, 1);
    device.Close();
    device.Close();
    EXPECT_EQ(world.liveHandles, 0);
}

TEST_F(HidDeviceTest, DestructionClosesTheHandle) {
    world.Add<EchoModel>();
    {
        HidDevice scoped(0x28DE, 0x1234, 64);
        ASSERT_TRUE(scoped.Open());
        EXPECT_EQ(world.liveHandles, 1);
    }
    EXPECT_EQ(world.liveHandles, 0);
}

TEST_F(HidDeviceTest, PayloadIsFramedToTheReportLength) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    const std::uint8_t three[] = {1, 2, 3};
    EXPECT_TRUE(device.SetFeatureReport(0, three, 3));
    sim::Bytes expected(64, 0);
    expected[0] = 1;
    expected[1] = 2;
    expected[2] = 3;
    EXPECT_EQ(echo.wire.back().bytes, expected);

    const auto eighty = PatternBytes(80);
    EXPECT_TRUE(device.SetFeatureReport(0, eighty.data(), 80));
    EXPECT_EQ(echo.wire.back().bytes, sim::Bytes(eighty.begin(), eighty.begin() + 64));
    EXPECT_TRUE(device.WriteReport(0, three, 3));
    EXPECT_EQ(echo.wire.back().bytes, expected);
}

TEST_F(HidDeviceTest, FeatureReportCountLeavesOutTheReportIdByte) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    echo.reply = PatternBytes(64);
    std::uint8_t destination[16];
    std::fill(std::begin(destination), std::end(destination), 0xEE);
    EXPECT_EQ(device.GetFeatureReport(0, destination, 8), 64);
    EXPECT_EQ(sim::Bytes(destination, destination + 8), sim::Bytes(echo.reply.begin(), echo.reply.begin() + 8));
    EXPECT_EQ(destination[8], 0xEE);  // only the asked-for length is copied

    echo.reply = {0x0A, 0x00};
    EXPECT_EQ(device.GetFeatureReport(0, destination, 2), 2);
    echo.reply = {};
    EXPECT_EQ(device.GetFeatureReport(0, destination, 2), 0);
}

TEST_F(HidDeviceTest, RefusedFeatureReportIsRetriedHundredTimes) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    const std::uint8_t one[] = {7};
    echo.refuseSetReports = 1000;
    EXPECT_FALSE(device.SetFeatureReport(0, one, 1));
    EXPECT_EQ(echo.wire.size(), 100u);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(99, 6));
    EXPECT_EQ(world.NowMs(), 594u);
    EXPECT_TRUE(device.IsOpen());

    world.Reset();
    auto& flaky = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    flaky.refuseSetReports = 3;
    EXPECT_TRUE(device.SetFeatureReport(0, one, 1));
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(3, 6));
    // The same buffer goes out every time.
    for (const sim::WireRecord& record : flaky.wire) {
        EXPECT_EQ(record.bytes[0], 7);
    }
}

TEST_F(HidDeviceTest, InterruptReadDropsTheFirstByteAndTimesOutWithZeros) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    std::uint8_t destination[4] = {9, 9, 9, 9};
    EXPECT_EQ(device.ReadReport(0, destination, 4, 0), 0);
    EXPECT_EQ(sim::Bytes(destination, destination + 4), sim::Bytes(4, 0));
    echo.input.push_back({1, 2, 3, 4, 5});
    // Windows pads every input report to the 64 bytes its descriptor declares.
    EXPECT_EQ(device.ReadReport(0, destination, 4, 100), sim::Host().padsInputReports ? 64 : 5);
    EXPECT_EQ(sim::Bytes(destination, destination + 4), (sim::Bytes{2, 3, 4, 5}));
}

TEST_F(HidDeviceTest, ClosedDeviceFailsWithoutCallingHidapi) {
    auto& echo = world.Add<EchoModel>();
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(device.GetFeatureReport(0, buffer, 8), -1);
    EXPECT_FALSE(device.SetFeatureReport(0, buffer, 8));
    EXPECT_EQ(device.ReadReport(0, buffer, 8, 0), -1);
    EXPECT_FALSE(device.WriteReport(0, buffer, 8));
    EXPECT_TRUE(echo.wire.empty());
    EXPECT_TRUE(world.Pauses().empty());
}

TEST_F(HidDeviceTest, UnpluggedDeviceFailsOnItsOldHandle) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    echo.Unplug();
    echo.Plug();
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(device.GetFeatureReport(0, buffer, 8), -1);
    EXPECT_EQ(device.ReadReport(0, buffer, 8, 10), -1);
    EXPECT_TRUE(device.Open());  // re-enumerated: a new handle works
    echo.reply = {1};
    EXPECT_EQ(device.GetFeatureReport(0, buffer, 8), 1);
}

TEST_F(HidDeviceTest, VanishedDeviceIsNotRetriedAndClosesItsHandle) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    echo.Unplug();
    const std::uint8_t one[] = {1};
    EXPECT_FALSE(device.SetFeatureReport(0, one, 1));
    EXPECT_TRUE(world.Pauses().empty());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(world.liveHandles, 0);
    // Later operations fail at once, as on a closed device.
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(device.GetFeatureReport(0, buffer, 8), -1);
    EXPECT_TRUE(echo.wire.empty());
}

TEST_F(HidDeviceTest, RefusingDeviceKeepsItsHandle) {
    auto& echo = world.Add<EchoModel>();
    ASSERT_TRUE(device.Open());
    echo.refuseGetReports = 1;
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(device.GetFeatureReport(0, buffer, 8), -1);
    EXPECT_TRUE(device.IsOpen());
}

}  // namespace
