// "-E": the EMC test record as the controller and the dongle receive it, the
// line announcing it, and the usage text for command lines it cannot take.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

// The usage text as printed for the EMC command, whose program name is "app".
const Transcript kEmcUsage = UsageLines("app", Edition::Standard);

// The feature report carrying a record: command 0x9A, length 16, the
// record, zeros to the end of the 64-byte report.
sim::Bytes EmcReport(const std::string& recordHex) { return ReportBytes("9A 10 " + recordHex); }

class EmcCommand : public SimTest {
protected:
    Transcript Run(const std::vector<std::string>& words) {
        std::vector<std::string> args = {"-E"};
        args.insert(args.end(), words.begin(), words.end());
        result = RunTool(args);
        return result.OutLines();
    }
    RunResult result;
};

TEST_F(EmcCommand, TransmitOnThreeChannelsReachesBothDevices) {
    auto& controller = world.Add<sim::ControllerModel>();
    auto& dongle = world.Add<sim::DongleAppModel>();

    EXPECT_EQ(Run({"0", "11", "42", "80"}),
              (Transcript{"Command: TRANSMIT on channels 11 42 80 power 0dBm",
                                        kEmcToController, kEmcToDongle}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const sim::Bytes report = EmcReport("00 03 0B 2A 50 00 00000000 00000000 0000");
    EXPECT_EQ(controller.SentReports(), std::vector<sim::Bytes>{report});
    EXPECT_EQ(dongle.SentReports(), std::vector<sim::Bytes>{report});
    EXPECT_EQ(controller.emcRecords, std::vector<sim::Bytes>{HexBytes("00030B2A50" + std::string(22, '0'))});
    EXPECT_EQ(dongle.emcRecords, controller.emcRecords);
}

TEST_F(EmcCommand, ReceiveUsesOneChannelAndThePowerOption) {
    auto& controller = world.Add<sim::ControllerModel>();

    EXPECT_EQ(Run({"-p", "-4", "1", "39", "40"}),
              (Transcript{"Command: RECEIVE on channels 39 power -4dBm",
                                        kEmcToController}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(controller.SentReports(),
              std::vector<sim::Bytes>{EmcReport("01 01 27 FC" + std::string(24, '0'))});

    // Words past the one channel are not channels: twenty of them are no overflow.
    std::vector<std::string> words = {"1"};
    for (int channel = 20; channel < 40; ++channel) {
        words.push_back(std::to_string(channel));
    }
    EXPECT_EQ(Run(words), (Transcript{"Command: RECEIVE on channels 20 power 0dBm",
                                                     kEmcToController}));
    EXPECT_EQ(controller.SentReports().back(), EmcReport("01 01 14 00"));
}

TEST_F(EmcCommand, NumbersKeepTheirLowByteOnTheWire) {
    auto& controller = world.Add<sim::ControllerModel>();

    // Channel 300 is stored and shown as 44; power 300 is stored as 44 but
    // shown as given. A word without digits is 0; "-p" after the mode is a channel.
    EXPECT_EQ(Run({"-p", "300", "0", "300", "x7", "-p"}),
              (Transcript{"Command: TRANSMIT on channels 44 0 0 power 300dBm",
                                        kEmcToController}));
    EXPECT_EQ(controller.SentReports(),
              std::vector<sim::Bytes>{EmcReport("00 03 2C 00 00 2C" + std::string(20, '0'))});
}

TEST_F(EmcCommand, FourteenChannelsFillTheRecordWithoutPower) {
    auto& controller = world.Add<sim::ControllerModel>();
    std::vector<std::string> words = {"-p", "-1", "0"};
    for (int channel = 1; channel <= 14; ++channel) {
        words.push_back(std::to_string(channel));
    }

    EXPECT_EQ(Run(words),
              (Transcript{
                  "Command: TRANSMIT on channels 1 2 3 4 5 6 7 8 9 10 11 12 13 14 power -1dBm",
                  kEmcToController}));
    EXPECT_EQ(controller.SentReports(),
              std::vector<sim::Bytes>{EmcReport("00 0E 0102030405060708090A0B0C0D0E")});
}

TEST_F(EmcCommand, FifteenChannelsAreRefusedWithNothingSent) {
    auto& controller = world.Add<sim::ControllerModel>();
    auto& dongle = world.Add<sim::DongleAppModel>();
    std::vector<std::string> words = {"0"};
    for (int channel = 1; channel <= 15; ++channel) {
        words.push_back(std::to_string(channel));
    }

    EXPECT_EQ(Run(words), kEmcUsage);
    EXPECT_EQ(result.status, -1);
    EXPECT_TRUE(world.OpenAttempts().empty());
    EXPECT_TRUE(controller.wire.empty());
    EXPECT_TRUE(dongle.wire.empty());
}

TEST_F(EmcCommand, TooFewWordsPrintTheUsageText) {
    world.Add<sim::ControllerModel>();
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{}, {"5"}, {"-p", "4"}, {"-p", "4", "1"}}) {
        EXPECT_EQ(Run(words), kEmcUsage) << words.size();
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.err, "");
    }
    // The usage text is that of the running edition.
    result = RunTool({"-E", "5"}, Edition::Compact);
    EXPECT_EQ(result.OutLines().at(1),
              "usage: app -s [softdevice_filename] <application_offset, e.g. \"98304\"> "
              "<application_filename>");
    EXPECT_EQ(result.status, -1);
    EXPECT_TRUE(world.OpenAttempts().empty());
}

TEST_F(EmcCommand, OnlyTheDongleTakesIt) {
    auto& dongle = world.Add<sim::DongleAppModel>();

    EXPECT_EQ(Run({"0", "5"}), (Transcript{"Command: TRANSMIT on channels 5 power 0dBm",
                                                          kEmcToDongle}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(dongle.emcRecords.size(), 1u);
    // The controller was looked for first.
    ASSERT_EQ(world.OpenAttempts().size(), 2u);
    EXPECT_EQ(world.OpenAttempts()[0].productId, 0x1102);
    EXPECT_FALSE(world.OpenAttempts()[0].opened);
    EXPECT_EQ(world.OpenAttempts()[1].productId, 0x1142);
}

TEST_F(EmcCommand, NeitherDevicePresent) {
    // A controller in its bootloader is not the application that takes the record.
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);

    EXPECT_EQ(Run({"0", "5"}), (Transcript{"Command: TRANSMIT on channels 5 power 0dBm",
                                                          kNoEmcDevice}));
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(world.OpenAttemptsFor(0x1102), 1u);
    EXPECT_EQ(world.OpenAttemptsFor(0x1142), 1u);
}

TEST_F(EmcCommand, ADeviceThatRefusesTheRecordIsPassedOverSilently) {
    auto& controller = world.Add<sim::ControllerModel>();
    controller.refuseSetReports = 1000;
    auto& dongle = world.Add<sim::DongleAppModel>();

    EXPECT_EQ(Run({"0", "5"}), (Transcript{"Command: TRANSMIT on channels 5 power 0dBm",
                                                          kEmcToDongle}));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(controller.emcRecords.empty());
    EXPECT_EQ(dongle.emcRecords.size(), 1u);
    // The refused record was retried 100 times, 6 ms apart, before moving on.
    EXPECT_EQ(controller.wire.size(), 100u);
    EXPECT_EQ(world.PausedMs(), 99u * 6u);
}

}  // namespace
