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

// A device at a hub port, as the simulated host names the port.
std::string Port(sim::HubPort port) { return sim::World::UsbPortName(port); }

using Row = std::vector<std::string>;

// The listing's table: a header row above the devices' rows, every column
// but the last padded to its widest cell (in characters: UTF-8 continuation
// bytes take no room) and two spaces before the next.
Transcript Table(std::vector<Row> rows) {
    rows.insert(rows.begin(),
                {"device", "usb ids", "release", "serial", "product", "port", "path", "access"});
    const auto width = [](const std::string& cell) {
        std::size_t characters = 0;
        for (const char c : cell) {
            characters += (static_cast<unsigned char>(c) >> 6) == 2 ? 0 : 1;
        }
        return characters;
    };
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], width(row[i]));
        }
    }
    Transcript lines;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
            line += row[i] + std::string(widths[i] - width(row[i]) + 2, ' ');
        }
        lines.push_back(line + row.back());
    }
    return lines;
}

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
    const Row controllerCells = {"controller bootloader", "28de:1002", "1.00", "QC7F0012",
                                 "\"Quorl Controller Bootloader\"", Port(1)};
    std::vector<Row> expected = {Join({controllerCells, {controller.Path(0), "can open"}})};
    if (controller.Path(1) != controller.Path(0)) {
        expected.push_back(Join({controllerCells, {controller.Path(1), "can open"}}));
    }
    expected.push_back({"dongle bootloader", "28de:1042", "1.03", "-",
                        "\"Quorl Dongle Bootloader\"", Port(2), dongle.Path(), "can open"});
    expected.push_back(
        {"unknown", "28de:1234", "1.00", "-", "-", Port(4), unknown.Path(), "can open"});
    expected.push_back({"Tivane serial application", "2548:1001", "1.00", "TV1C0093",
                        "\"Tivane\"", Port(7), tivane.serial.serialPort, SerialPortAccess()});
    expected.push_back({"Tivane serial application", "2548:1001", "1.00", "-", "\"Tivane\"",
                        "-", unplacedPort, SerialPortAccess()});
    EXPECT_EQ(run.OutLines(), Table(expected));
    EXPECT_EQ(run.err, "");
    ExpectNothingSent();
}

// Every state the family shows, and the entries a listing must not trust:
// control characters and DEL in a device string and in the system's port
// names, a HID entry without a path (which no test of access can open), a
// serial port without a node, and bytes that are not UTF-8, which the JSON
// document replaces instead of failing on.
TEST_F(DeviceListing, EveryStateAndTheOddEntries) {
    const std::string hostController = sim::Host().hostController;
    world.hostController = hostController + "\x7f\x1b[2J";
    auto& controller = world.Add<ControllerModel>();
    controller.descriptor.serialNumber = L"QC\x1b[2J\t12\x7f";
    controller.descriptor.product = L"Manette \u00e9dition";
    auto& dongleApp = world.Add<sim::DongleAppModel>();
    auto& tivaneBootloader = world.Add<sim::TivaneModel>(ControllerModel::Mode::Bootloader);
    auto& pathless = world.Add<sim::DongleBootloaderModel>();
    pathless.listedWithoutPath = true;
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.serial.product = "Tiv\xC3ne";
    tivane.serial.serialPort = "";

    const RunResult run = RunListing({});
    EXPECT_EQ(run.status, 0);
    // Each control character and DEL shows as '?'.
    world.hostController = hostController + "??[2J";
    EXPECT_EQ(run.OutLines(),
              Table({{"controller application", "28de:1102", "1.04", "QC?[2J?12?",
                      "\"Manette \u00e9dition\"", Port(1), controller.Path(), "can open"},
                     {"dongle application", "28de:1142", "2.03", "QD3B0457",
                      "\"Quorl Wireless Dongle\"", Port(2), dongleApp.Path(), "can open"},
                     {"Tivane HID bootloader", "28de:1071", "1.00", "TV1C0093",
                      "\"Tivane Bootloader\"", Port(3), tivaneBootloader.Path(), "can open"},
                     {"dongle bootloader", "28de:1042", "1.03", "-",
                      "\"Quorl Dongle Bootloader\"", "-", "-", "cannot open"},
                     {"Tivane serial application", "2548:1001", "1.00", "TV1C0093",
                      "\"Tiv\xC3ne\"", Port(5), "-", "cannot open"}}));
    EXPECT_EQ(run.err, "");

    const RunResult json = RunListing({"--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.err, "");
    const nlohmann::json devices = nlohmann::json::parse(json.out).at("devices");
    ASSERT_EQ(devices.size(), 5u) << json.out;
    EXPECT_EQ(devices[0]["serial"], "QC\u001b[2J\t12\u007f");  // escaped, not replaced
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
    const bool windows = sim::Host().system == sim::System::Windows;
    const std::string refused =
        windows ? "cannot open (access denied)" : "cannot open (permission denied)";
    const Row controllerCells = {"controller application", "28de:1102", "1.04", "QC7F0012",
                                 "\"Quorl Wired Controller\""};
    EXPECT_EQ(run.OutLines(),
              Table({Join({controllerCells, {Port(1), controller.Path(), "can open"}}),
                     {"dongle bootloader", "28de:1042", "1.03", "-",
                      "\"Quorl Dongle Bootloader\"", Port(2), dongle.Path(), refused},
                     Join({controllerCells, {Port(4), held.Path(),
                                             windows ? "can open (in use by another program)"
                                                     : refused}}),
                     {"Tivane serial application", "2548:1001", "1.00", "TV1C0093",
                      "\"Tivane\"", Port(3), tivane.serial.serialPort,
                      SerialPortAccess(refused.c_str())}}));
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
    EXPECT_EQ(help.OutLines().at(0), "usage: quorl-devices [--json] [--watch]");
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.OutLines().at(10), "  --version  the program's release");
    const RunResult version = RunListing({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.OutLines(), Transcript{"quorl-devices " QUORL_VERSION});
    EXPECT_EQ(version.err, "");
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
