// The simulated benches that QUORL_SIM_DEVICES describes: hub ports as the
// host names them, the settings it refuses, and a node that goes to another
// unit between a listing and an open.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include "platform/usb/UsbPort.h"
#include "sim/HostConventions.h"
#include "sim/Scenario.h"
#include "tests/SimTest.h"

namespace {

// The port's name on each system: usbhid's on Linux, the USB device's
// location path on Windows, behind the controller at PCI 00:14.0.
std::string PortName(const std::string& linuxName, const std::string& windowsName) {
    return sim::Host().system == sim::System::Linux ? "usb-0000:00:14.0-" + linuxName
                                                    : "PCIROOT(0)#PCI(1400)#USBROOT(0)" + windowsName;
}

class SimScenario : public SimTest {
protected:
    // The port the platform tells for the first device's path.
    std::string FirstDevicePort() {
        return platform::UsbPortOfHidDevice(world.devices.at(0)->Path());
    }
};

TEST_F(SimScenario, HubPortsAreNamedAsTheHostNamesThem) {
    struct Row {
        const char* settings;
        std::string port;
    };
    for (const Row& row : {
             Row{"", PortName("1", "#USB(1)")},
             Row{":at=3", PortName("3", "#USB(3)")},
             Row{":at=1.10", PortName("1.10", "#USB(1)#USB(10)")},
             Row{":at=1.2.3", PortName("1.2.3", "#USB(1)#USB(2)#USB(3)")},
             Row{":at=255.1.2.3.4.5", PortName("255.1.2.3.4.5",
                                               "#USB(255)#USB(1)#USB(2)#USB(3)#USB(4)#USB(5)")},
         }) {
        SCOPED_TRACE(row.settings);
        world.Reset();
        std::string error;
        ASSERT_TRUE(sim::LoadScenario(std::string("controller") + row.settings, error)) << error;
        EXPECT_EQ(FirstDevicePort(), row.port);
    }
}

// Anything that is not a port is refused with the setting named, never read
// as the number it starts with.
TEST_F(SimScenario, WhatIsNotAHubPortIsRefused) {
    std::string error;
    EXPECT_FALSE(sim::LoadScenario("controller:at=1.x", error));
    EXPECT_EQ(error, "bad setting \"at=1.x\" of simulated device controller: \"1.x\" is not a hub "
                     "port: a port number from 1 to 255, or up to six of them joined by dots for "
                     "a port behind hubs, such as 1.2.3");
    for (const char* setting : {"at=", "at=0", "at=256", "at=-1", "at=+1", "at=1.", "at=.1",
                                "at=1..2", "at=1.0", "at=1.2.3.4.5.6.7", "at=0x3",
                                "comes-back-at=2.x", "swaps-node-with=x"}) {
        SCOPED_TRACE(setting);
        world.Reset();
        error.clear();
        EXPECT_FALSE(sim::LoadScenario(std::string("controller:") + setting, error));
        EXPECT_TRUE(error.starts_with("bad setting \"" + std::string(setting) + "\"")) << error;
    }
}

TEST_F(SimScenario, UnitComesBackBehindAHub) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("controller:at=2:comes-back-at=4.1", error)) << error;
    sim::SimDevice& unit = *world.devices.at(0);
    unit.ReenumerateAt(10, unit.productId);
    world.Advance(10);
    EXPECT_EQ(FirstDevicePort(), PortName("4.1", "#USB(4)#USB(1)"));
}

// The first open of the first unit's path reaches the unit at 2.1, which
// holds that node from then on, and the first unit holds the other's: the
// opened handle, the listing and the platform's port lookup all agree.
TEST_F(SimScenario, NodeThatWentToAnotherUnitReachesThatUnit) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("controller:swaps-node-with=2.1,controller:at=2.1", error))
        << error;
    const std::string firstPath = world.devices.at(0)->Path();
    const std::string secondPath = world.devices.at(1)->Path();
    EXPECT_EQ(platform::UsbPortOfHidDevice(firstPath), PortName("1", "#USB(1)"));

    hid_device* handle = hid_open_path(firstPath.c_str());
    ASSERT_NE(handle, nullptr);
    const hid_device_info* info = hid_get_device_info(handle);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::wstring(info->serial_number), L"QC7F0013");
    EXPECT_EQ(std::string(info->path), firstPath);
    hid_close(handle);
    EXPECT_EQ(platform::UsbPortOfHidDevice(firstPath), PortName("2.1", "#USB(2)#USB(1)"));
    EXPECT_EQ(platform::UsbPortOfHidDevice(secondPath), PortName("1", "#USB(1)"));

    // Only once: the nodes stay where they went.
    handle = hid_open_path(secondPath.c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(std::wstring(hid_get_device_info(handle)->serial_number), L"QC7F0012");
    hid_close(handle);
    handle = hid_open_path(firstPath.c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(std::wstring(hid_get_device_info(handle)->serial_number), L"QC7F0013");
    hid_close(handle);
}

// A bench that a shift changed, passed to a worker process as QUORL_SIM_DEVICES
// (PresentScenario): the worker's own world has each unit at its port, with
// its node and serial number, though a unit taken out left a gap that the
// next one filled (the kernel gives the lowest hidraw number free).
TEST_F(SimScenario, WorkerFindsTheBenchAsTheShiftLeftIt) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("controller:at=3,controller:at=4,tivane:at=6,controller:at=5",
                                  error))
        << error;
    hid_device* pulled = hid_open_path(world.devices.at(1)->Path().c_str());
    ASSERT_NE(pulled, nullptr);
    world.RemoveAtPort(4);
    unsigned char report[65] = {0};
    EXPECT_EQ(hid_send_feature_report(pulled, report, sizeof report), -1);
    hid_close(pulled);
    ASSERT_NE(sim::PlugScenarioEntry("controller:at=9", error), nullptr) << error;

    using Unit = std::tuple<std::string, std::size_t, std::wstring>;
    const auto units = [this] {
        std::vector<Unit> seen;
        for (const auto& device : world.devices) {
            seen.emplace_back(sim::World::UsbPortName(device->usbPort), device->busPlace,
                              device->Descriptor().serialNumber);
        }
        return seen;
    };
    const std::vector<Unit> expected = {
        {PortName("3", "#USB(3)"), 0, L"QC7F0012"},
        {PortName("6", "#USB(6)"), 2, L""},  // its application is a serial port
        {PortName("5", "#USB(5)"), 3, L"QC7F0014"},
        {PortName("9", "#USB(9)"), 1, L"QC7F0015"},
    };
    EXPECT_EQ(units(), expected);
    const std::string tivanePort = world.usbEntries.at(0)->serialPort;
    EXPECT_EQ(world.usbEntries.at(0)->serialNumber, "TV1C0093");

    const std::string passed = sim::PresentScenario();
    world.Reset();
    ASSERT_TRUE(sim::LoadScenario(passed, error)) << passed << ": " << error;
    EXPECT_EQ(units(), expected) << passed;
    EXPECT_EQ(world.usbEntries.at(0)->serialPort, tivanePort);
}

}  // namespace
