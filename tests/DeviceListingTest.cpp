// quorl-devices over simulated devices: what is plugged in, in which state,
// and whether this user may open it, as lines and as JSON. Listing never
// talks to a device.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devices/ListingProgram.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

RunResult RunListing(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"/usr/bin/quorl-devices"};
    words.insert(words.end(), args.begin(), args.end());
    return RunCaptured(words, RunDeviceListing);
}

class DeviceListing : public SimTest {
protected:
    // Nothing was sent to any device, and every handle opened to test access is closed.
    void ExpectNothingSent() {
        for (const auto& device : world.devices) {
            EXPECT_EQ(device->transfers, 0u) << device->name;
        }
        EXPECT_TRUE(world.serialWrites.empty());
        EXPECT_EQ(world.liveHandles, 0);
    }
};

TEST_F(DeviceListing, MixedDevicesOneLineEachInBusOrder) {
    // A controller whose report descriptor has two top-level collections:
    // hidraw lists its node twice, the listing once.
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader).bootloaderDescriptor.usages = {
        {0x0001, 0x0005}, {0xFF00, 0x0001}};
    world.Add<sim::DongleBootloaderModel>();
    world.Add<sim::SimDevice>(0x046D, 0xC52B, "another vendor's receiver");
    world.Add<sim::SimDevice>(0x28DE, 0x1234, "a product the family does not name");
    world.Add<sim::TivaneModel>();  // its application: a serial port, no HID node

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(),
              (Transcript{
                  "controller bootloader      28de:1002  release 1.00  serial QC7F0012  "
                  "\"Quorl Controller Bootloader\"  /dev/hidraw0  can open",
                  "dongle bootloader          28de:1042  release 1.03  \"Quorl Dongle Bootloader\"  "
                  "/dev/hidraw1  can open",
                  "unknown                    28de:1234  release 1.00  /dev/hidraw3  can open",
                  "Tivane serial application  2548:1001  release 1.00  serial TV1C0093  \"Tivane\"  "
                  "/dev/ttyACM0  can open",
              }));
    EXPECT_EQ(run.err, "");
    ExpectNothingSent();
}

TEST_F(DeviceListing, NoneConnected) {
    const RunResult lines = RunListing({});
    EXPECT_EQ(lines.status, 1);
    EXPECT_EQ(lines.OutLines(), Transcript{"No device of the Quorl family is connected."});
    const RunResult json = RunListing({"--json"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(nlohmann::json::parse(json.out), nlohmann::json::parse(R"({"devices": []})"));
}

TEST_F(DeviceListing, UnopenableDevicesAreListedWithTheRulesHint) {
    world.Add<ControllerModel>();
    world.Add<sim::DongleBootloaderModel>().accessDenied = true;
    world.Add<sim::TivaneModel>().accessDenied = true;

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    const Transcript lines = run.OutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with("/dev/hidraw0  can open")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("/dev/hidraw1  cannot open (permission denied)")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("/dev/ttyACM0  cannot open (permission denied)")) << lines[2];
    EXPECT_EQ(run.ErrLines(),
              (Transcript{AccessHintLine("/dev/hidraw1"), AccessHintLine("/dev/ttyACM0")}));
    ExpectNothingSent();
}

TEST_F(DeviceListing, JsonParsesBackToTheSameDevices) {
    ControllerModel& controller = world.Add<ControllerModel>();
    controller.descriptor.product = L"Manette Quorl \u2013 \u00e9dition \U0001F3AE";
    world.Add<sim::DongleBootloaderModel>().accessDenied = true;

    const RunResult run = RunListing({"--json"});
    EXPECT_EQ(run.status, 0);
    const nlohmann::json expected = nlohmann::json::parse(R"({"devices": [
        {"kind": "controller", "state": "application", "vendorId": "28de", "productId": "1102",
         "release": "1.04", "serial": "QC7F0012",
         "product": "Manette Quorl \u2013 \u00e9dition \ud83c\udfae",
         "path": "/dev/hidraw0", "access": "ok"},
        {"kind": "dongle", "state": "bootloader", "vendorId": "28de", "productId": "1042",
         "release": "1.03", "serial": null, "product": "Quorl Dongle Bootloader",
         "path": "/dev/hidraw1", "access": "denied"}]})");
    EXPECT_EQ(nlohmann::json::parse(run.out), expected);
    // The hint stays on standard error, so standard output is the document alone.
    EXPECT_EQ(run.ErrLines(), Transcript{AccessHintLine("/dev/hidraw1")});
    ExpectNothingSent();
}

TEST_F(DeviceListing, UsageOnHelpAndOnAnythingElse) {
    world.Add<ControllerModel>();
    const RunResult help = RunListing({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.OutLines().at(0), "usage: quorl-devices [--json]");
    EXPECT_EQ(help.err, "");
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"--list"}, {"-j"}, {"--json", "controller"}}) {
        const RunResult run = RunListing(words);
        EXPECT_EQ(run.status, 2) << words.back();
        EXPECT_EQ(run.out, "") << words.back();
        EXPECT_EQ(run.err, help.out) << words.back();
    }
    // Neither help nor a usage error looks at the devices.
    EXPECT_TRUE(world.OpenAttempts().empty());
}

}  // namespace
