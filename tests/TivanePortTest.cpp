// Finding the Tivane's port in a USB listing, on the listing's texts alone
// (Linux and Windows forms).
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/TivanePort.h"
#include "platform/usb/DeviceTreeWindowsText.h"
#include "platform/usb/UsbListingText.h"
#include "platform/usb/UsbPortText.h"

namespace {

platform::UsbDevice Listed(std::vector<std::string> ids, std::string name = "USB Serial Device",
                           std::string port = {}) {
    return {std::move(ids), std::move(name), std::move(port)};
}

std::optional<std::string> Port(const std::vector<platform::UsbDevice>& devices) {
    return FirstPortMatching(devices, UsbIdSearchPattern(0x2548, 0x1001));
}

TEST(TivanePort, SearchPatternIsTheTivanesVidAndPid) {
    EXPECT_EQ(UsbIdSearchPattern(kTivaneSerialVendorId, kTivaneSerialProductId), "VID_2548&PID_1001");
}

TEST(TivanePort, MatchesOnlyTheFirstHardwareIdAndTheFirstDeviceWithAPort) {
    const std::string tivane = "USB\\VID_2548&PID_1001&REV_0100";
    EXPECT_EQ(Port({Listed({tivane, "USB\\VID_2548&PID_1001"}, "Tivane (COM3)")}), "COM3");
    EXPECT_EQ(Port({Listed({"USB\\VID_2548&PID_1002&REV_0100"}, "Tivane (COM3)")}), std::nullopt);
    // The second identifier is never searched.
    EXPECT_EQ(Port({Listed({"USB\\VID_2548&PID_1002&REV_0100", "USB\\VID_2548&PID_1001"}, "Tivane (COM3)")}),
              std::nullopt);
    // Case-sensitive, and a device without identifiers never matches.
    EXPECT_EQ(Port({Listed({"USB\\vid_2548&pid_1001"}, "Tivane (COM3)"), Listed({}, "Tivane (COM4)")}),
              std::nullopt);
    // Of two Tivanes, the one listed first.
    EXPECT_EQ(Port({Listed({"USB\\VID_28DE&PID_1071&REV_0100"}, "Controller (COM2)"),
                    Listed({tivane}, "Tivane (COM4)"), Listed({"USB\\VID_2548&PID_1001&REV_0200"}, "Tivane (COM9)")}),
              "COM4");
    // One whose port is not there yet is passed over for the next that has one.
    EXPECT_EQ(Port({Listed({tivane}, "Tivane"), Listed({tivane}, "Tivane (COM9)")}), "COM9");
    EXPECT_EQ(Port({Listed({tivane}, "Tivane")}), std::nullopt);
}

TEST(TivanePort, LinuxListingTextIsFoundByTheSearch) {
    const auto ids = platform::UsbHardwareIds(0x2548, 0x1001, 0x0100);
    EXPECT_EQ(ids, (std::vector<std::string>{"USB\\VID_2548&PID_1001&REV_0100", "USB\\VID_2548&PID_1001"}));
    EXPECT_EQ(Port({Listed(ids, "Tivane (/dev/ttyACM0)", "/dev/ttyACM0")}), "/dev/ttyACM0");
    // Upper-case digits, four of them, as Windows writes them.
    EXPECT_EQ(platform::UsbHardwareIds(0xABCD, 0x00EF, 0x0001).front(), "USB\\VID_ABCD&PID_00EF&REV_0001");
    EXPECT_EQ(platform::UsbDisplayName("Tivane", "/dev/ttyACM0"), "Tivane (/dev/ttyACM0)");
}

TEST(TivanePort, UsbPortIsNamedAlikeFromTheHidDeviceAndFromTheUsbDevice) {
    // usbhid's HID_PHYS without its interface: the USB device's port.
    EXPECT_EQ(platform::UsbPortFromHidPhys("usb-0000:00:14.0-1.2/input0"), "usb-0000:00:14.0-1.2");
    EXPECT_EQ(platform::UsbPortFromHidPhys("usb-0000:00:14.0-4/input12"), "usb-0000:00:14.0-4");
    EXPECT_EQ(platform::UsbPortFromHidPhys("usb-3f980000.usb-1.1.3"), "usb-3f980000.usb-1.1.3");
    // Built from the USB device as the kernel builds it; nothing without either part.
    EXPECT_EQ(platform::LinuxUsbPortName("0000:00:14.0", "1.2"), "usb-0000:00:14.0-1.2");
    EXPECT_EQ(platform::LinuxUsbPortName("3f980000.usb", "1.1.3"), "usb-3f980000.usb-1.1.3");
    EXPECT_EQ(platform::LinuxUsbPortName("", "1.2"), "");
    EXPECT_EQ(platform::LinuxUsbPortName("0000:00:14.0", ""), "");
    // Windows: the USB device node, not one interface of a composite device,
    // not the HID collection nor the hub above.
    EXPECT_TRUE(platform::IsUsbDeviceInstance("USB\\VID_2548&PID_1001\\TV1C0093"));
    EXPECT_TRUE(platform::IsUsbDeviceInstance("usb\\vid_28de&pid_1002\\6&2c1d0000&0&2"));
    EXPECT_FALSE(platform::IsUsbDeviceInstance("USB\\VID_2548&PID_1001&MI_00\\7&1a2b&0&0000"));
    EXPECT_FALSE(platform::IsUsbDeviceInstance("HID\\VID_28DE&PID_1002\\7&1a2b0000&0&0000"));
    EXPECT_FALSE(platform::IsUsbDeviceInstance("USBSTOR\\DISK&VEN_X\\1"));
    EXPECT_FALSE(platform::IsUsbDeviceInstance("PCI\\VEN_8086&DEV_A36D\\3&11583659&0&A0"));
    // The node that gives the port, on the way up from a HID collection or a
    // COM port: the first USB device node; none on a Bluetooth link, whose
    // USB device is the computer's radio, shared by every Bluetooth device.
    const std::string radio = "USB\\VID_8087&PID_0029\\5&2c3d4e5f&0&10";
    const std::vector<std::pair<std::vector<std::string>, std::string>> wayUp = {
        {{"HID\\VID_28DE&PID_1102&MI_02\\8&2f0a2b5c&0&0000", "USB\\VID_28DE&PID_1102&MI_02\\7&1d2c&0&0002",
          "USB\\VID_28DE&PID_1102\\6&1a2b3c4d&0&2", "USB\\ROOT_HUB30\\5&1a2b&0&0"},
         "USB\\VID_28DE&PID_1102\\6&1a2b3c4d&0&2"},
        {{"USB\\VID_2548&PID_1001\\TV1C0093", radio}, "USB\\VID_2548&PID_1001\\TV1C0093"},
        {{"HID\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002054c_PID&09cc\\9&1a&0&0000",
          "BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002054c_PID&09cc\\8&2b&0&A4AE12345678_C00000000",
          "BTH\\MS_BTHBRB\\7&3c&0&1", radio},
         ""},
        {{"HID\\{00001812-0000-1000-8000-00805f9b34fb}_Dev_VID&02045e_PID&0b13&Col01\\9&4d&0&0000",
          "bthledevice\\{00001812-0000-1000-8000-00805f9b34fb}_Dev_VID&02045e_PID&0b13\\8&5e&0&1",
          "BTHLE\\Dev_f46ad6b3d0a1\\7&6f&0&f46ad6b3d0a1", radio},
         ""},
        {{"HID\\VID_28DE&PID_1102\\1", "BthEnum\\{0000}\\1", radio}, ""},
        {{"HID\\CONVERTEDDEVICE&COL01\\5&1a&0&0000", "ACPI\\PNP0C50\\0", "PCI\\VEN_8086\\3&1"}, ""},
    };
    for (const auto& [nodes, usbDevice] : wayUp) {
        EXPECT_EQ(platform::UsbDeviceOnWayUp(nodes), usbDevice) << nodes.front();
    }
}

TEST(TivanePort, ComPortIsTakenWholeFromTheDisplayName) {
    EXPECT_EQ(ComPortInDisplayName("USB Serial Device (COM7)"), "COM7");
    EXPECT_EQ(ComPortInDisplayName("USB Serial Device (COM12)"), "COM12");
    EXPECT_EQ(ComPortInDisplayName("USB Serial Device (COM256)"), "COM256");
    // The first upper-case "COM" with a number, wherever it stands.
    EXPECT_EQ(ComPortInDisplayName("COM3 adapter (COM7)"), "COM3");
    EXPECT_EQ(ComPortInDisplayName("COMPOSITE DEVICE (COM4)"), "COM4");
    // Lower case is no port, and neither is a name without one.
    EXPECT_EQ(ComPortInDisplayName("Tivane (com5)"), std::nullopt);
    EXPECT_EQ(ComPortInDisplayName("USB Serial Device"), std::nullopt);
    EXPECT_EQ(ComPortInDisplayName("COM"), std::nullopt);
}

TEST(TivanePort, DeviceNodeComesBeforeTheDisplayName) {
    EXPECT_EQ(SerialPortOf(Listed({}, "Tivane (/dev/ttyACM10)", "/dev/ttyACM10")), "/dev/ttyACM10");
    EXPECT_EQ(SerialPortOf(Listed({}, "USB Serial Device (COM12)")), "COM12");
    EXPECT_EQ(SerialPortOf(Listed({}, "Tivane")), std::nullopt);
}

}  // namespace
