// quorl-devices over simulated devices: what is plugged in, in which state,
// and whether this user may open it, as lines and as JSON. Listing never
// talks to a device.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devices/ListingProgram.h"
#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/HostConventions.h"
#include "sim/TivaneModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

// The port column of a device at a hub port, as the simulated host names it.
std::string PortColumn(std::size_t port) { return "  port " + sim::World::UsbPortName(port); }

RunResult RunListing(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"/usr/bin/quorl-devices"};
    words.insert(words.end(), args.begin(), args.end());
    return RunCaptured(words, RunDeviceListing);
}

class DeviceListing : public SimTest {
protected:
    // Linux reads a serial port's permissions; Windows tells only by opening
    // the port, which the listing never does.
    static std::string SerialPortAccess(const char* whenVisible = "can open") {
        return sim::Host().serialAccessVisible ? whenVisible : "access unknown (not opened)";
    }

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
    // hidraw lists its node twice, the listing once; Windows gives each
    // collection a path of its own, and each is listed.
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.bootloaderDescriptor.usages = {{0x0001, 0x0005}, {0xFF00, 0x0001}};
    const auto& dongle = world.Add<sim::DongleBootloaderModel>();
    world.Add<sim::SimDevice>(0x046D, 0xC52B, "another vendor's receiver");
    const auto& unknown =
        world.Add<sim::SimDevice>(0x28DE, 0x1234, "a product the family does not name");
    // The Tivane's application: a serial port, no HID node; plugged in at
    // hub port 7, and its port goes with it.
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.usbPort = 7;
    // A serial port of the same IDs whose USB port the system does not tell.
    const std::string unplacedPort = sim::Host().serialPortName(9);
    world.AddUsbEntry({0x2548, 0x1001, 0x0100, "Tivane", unplacedPort, true, {}});

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    const std::string controllerLine =
        "controller bootloader      28de:1002  release 1.00  serial QC7F0012  "
        "\"Quorl Controller Bootloader\"  ";
    Transcript expected = {controllerLine + controller.Path(0) + PortColumn(1) + "  can open"};
    if (controller.Path(1) != controller.Path(0)) {
        expected.push_back(controllerLine + controller.Path(1) + PortColumn(1) + "  can open");
    }
    expected.push_back("dongle bootloader          28de:1042  release 1.03  "
                       "\"Quorl Dongle Bootloader\"  " + dongle.Path() + PortColumn(2) +
                       "  can open");
    expected.push_back("unknown                    28de:1234  release 1.00  " + unknown.Path() +
                       PortColumn(4) + "  can open");
    expected.push_back("Tivane serial application  2548:1001  release 1.00  serial TV1C0093  "
                       "\"Tivane\"  " + tivane.serial.serialPort + PortColumn(7) + "  " +
                       SerialPortAccess());
    expected.push_back("Tivane serial application  2548:1001  release 1.00  \"Tivane\"  " +
                       unplacedPort + "  " + SerialPortAccess());
    EXPECT_EQ(run.OutLines(), expected);
    EXPECT_EQ(run.err, "");
    ExpectNothingSent();
}

// Every state the family shows, and the entries a listing must not trust:
// control characters in a device string, a HID entry without a path (which
// no test of access can open), a serial port without a node, and bytes that
// are not UTF-8, which the JSON document replaces instead of failing on.
TEST_F(DeviceListing, EveryStateAndTheOddEntries) {
    auto& controller = world.Add<ControllerModel>();
    controller.descriptor.serialNumber = L"QC\x1b[2J\t12";
    auto& dongleApp = world.Add<sim::DongleAppModel>();
    auto& tivaneBootloader = world.Add<sim::TivaneModel>(ControllerModel::Mode::Bootloader);
    auto& pathless = world.Add<sim::DongleBootloaderModel>();
    pathless.listedWithoutPath = true;
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.serial.product = "Tiv\xC3ne";
    tivane.serial.serialPort = "";

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(),
              (Transcript{
                  "controller application     28de:1102  release 1.04  serial QC?[2J?12  "
                  "\"Quorl Wired Controller\"  " + controller.Path() + PortColumn(1) + "  can open",
                  "dongle application         28de:1142  release 2.03  serial QD3B0457  "
                  "\"Quorl Wireless Dongle\"  " + dongleApp.Path() + PortColumn(2) + "  can open",
                  "Tivane HID bootloader      28de:1071  release 1.00  serial TV1C0093  "
                  "\"Tivane Bootloader\"  " + tivaneBootloader.Path() + PortColumn(3) + "  can open",
                  "dongle bootloader          28de:1042  release 1.03  "
                  "\"Quorl Dongle Bootloader\"  (no port)  cannot open",
                  "Tivane serial application  2548:1001  release 1.00  serial TV1C0093  "
                  "\"Tiv\xC3ne\"  (no port)" + PortColumn(5) + "  cannot open"}));
    EXPECT_EQ(run.err, "");

    const RunResult json = RunListing({"--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.err, "");
    const nlohmann::json devices = nlohmann::json::parse(json.out).at("devices");
    ASSERT_EQ(devices.size(), 5u) << json.out;
    EXPECT_EQ(devices[0]["serial"], "QC\u001b[2J\t12");  // escaped, not replaced
    EXPECT_EQ(devices[1]["state"], "application");
    EXPECT_EQ(devices[2]["state"], "HID bootloader");
    EXPECT_EQ(devices[3]["path"], nullptr);
    EXPECT_EQ(devices[3]["access"], "failed");
    EXPECT_EQ(devices[4]["product"], "Tiv\uFFFDne");
    EXPECT_EQ(devices[4]["path"], nullptr);
    EXPECT_EQ(devices[4]["access"], "failed");
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
    const auto& controller = world.Add<ControllerModel>();
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    dongle.accessDenied = true;
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.accessDenied = true;
    // On Windows another program holds it: its feature reports still pass,
    // so the tool can drive it, and no hint says otherwise.
    auto& held = world.Add<ControllerModel>();
    held.accessDenied = true;

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    const Transcript lines = run.OutLines();
    ASSERT_EQ(lines.size(), 4u);
    const bool windows = sim::Host().system == sim::System::Windows;
    const std::string refused =
        windows ? "cannot open (access denied)" : "cannot open (permission denied)";
    EXPECT_TRUE(lines[0].ends_with(controller.Path() + PortColumn(1) + "  can open")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(dongle.Path() + PortColumn(2) + "  " + refused)) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(held.Path() + PortColumn(4) + "  " +
                                   (windows ? "can open (in use by another program)" : refused)))
        << lines[2];
    EXPECT_TRUE(lines[3].ends_with(tivane.serial.serialPort + PortColumn(3) + "  " +
                                   SerialPortAccess(refused.c_str())))
        << lines[3];
    Transcript hints = {AccessHintLine(dongle.Path())};
    if (!windows) {
        hints.push_back(AccessHintLine(held.Path()));
    }
    if (sim::Host().serialAccessVisible) {
        hints.push_back(AccessHintLine(tivane.serial.serialPort));
    }
    EXPECT_EQ(run.ErrLines(), hints);
    ExpectNothingSent();
}

TEST_F(DeviceListing, JsonParsesBackToTheSameDevices) {
    ControllerModel& controller = world.Add<ControllerModel>();
    controller.descriptor.product = L"Manette Quorl \u2013 \u00e9dition \U0001F3AE";
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    dongle.accessDenied = true;

    const RunResult run = RunListing({"--json"});
    EXPECT_EQ(run.status, 0);
    nlohmann::json expected = nlohmann::json::parse(R"({"devices": [
        {"kind": "controller", "state": "application", "vendorId": "28de", "productId": "1102",
         "release": "1.04", "serial": "QC7F0012",
         "product": "Manette Quorl \u2013 \u00e9dition \ud83c\udfae",
         "path": "", "port": "", "access": "ok"},
        {"kind": "dongle", "state": "bootloader", "vendorId": "28de", "productId": "1042",
         "release": "1.03", "serial": null, "product": "Quorl Dongle Bootloader",
         "path": "", "port": "", "access": "denied"}]})");
    expected["devices"][0]["path"] = controller.Path();
    expected["devices"][0]["port"] = sim::World::UsbPortName(1);
    expected["devices"][1]["path"] = dongle.Path();
    expected["devices"][1]["port"] = sim::World::UsbPortName(2);
    EXPECT_EQ(nlohmann::json::parse(run.out), expected);
    // The hint stays on standard error, so standard output is the document alone.
    EXPECT_EQ(run.ErrLines(), Transcript{AccessHintLine(dongle.Path())});
    ExpectNothingSent();
}

TEST_F(DeviceListing, UsageOnHelpAndOnAnythingElse) {
    world.Add<ControllerModel>();
    const RunResult help = RunListing({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.OutLines().at(0), "usage: quorl-devices [--json]");
    EXPECT_EQ(help.err, "");
    const RunResult shortHelp = RunListing({"-h"});
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, help.out);
    EXPECT_EQ(shortHelp.err, "");
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
