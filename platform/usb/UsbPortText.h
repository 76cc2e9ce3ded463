// The texts that name a USB port, built alike from every source the systems
// give, so that a HID device and a serial port of one unit name the same port.
#pragma once

#include <cctype>
#include <string>

namespace platform {

// usbhid's name of a HID device's place, HID_PHYS ("usb-0000:00:14.0-1.2/input0"),
// without the interface part: the port of the USB device.
inline std::string UsbPortFromHidPhys(const std::string& hidPhys) {
    return hidPhys.substr(0, hidPhys.find("/input"));
}

// The same text built from the USB device itself, as the kernel builds it:
// its host controller's bus name ("0000:00:14.0") and its devpath ("1.2");
// empty when either is missing.
inline std::string LinuxUsbPortName(const std::string& hostControllerBusName,
                                    const std::string& devpath) {
    if (hostControllerBusName.empty() || devpath.empty()) {
        return {};
    }
    return "usb-" + hostControllerBusName + "-" + devpath;
}

// Whether a Windows device instance ID names a USB device node
// ("USB\VID_2548&PID_1001\TV1C0093"), not one interface of a composite device
// ("USB\VID_2548&PID_1001&MI_00\...") nor anything above or below USB.
inline bool IsUsbDeviceInstance(std::string instanceId) {
    for (char& c : instanceId) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return instanceId.starts_with("USB\\") && instanceId.find("&MI_") == std::string::npos;
}

}  // namespace platform
