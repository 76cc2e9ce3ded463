// Reading USB devices from udev on Linux, shared by the USB listing, the HID
// listing and the serial port's check. Every value udev gives may be missing:
// a device can go at any moment while it is read, and then its attributes
// and parents read as nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/usb/UdevHandles.h"

namespace platform {

// An enumeration of the devices of the subsystem (and device type, unless
// null), below a device when one is given (that device included), scanned;
// none when udev gives none.
UdevEnumeration ScanDevices(udev* context, const char* subsystem, const char* devtype,
                            udev_device* under);

// A sysfs attribute's text, empty when the device has none (or is gone).
std::string AttributeText(udev_device* device, const char* name);

// A hexadecimal sysfs attribute such as idVendor ("2548"), or nothing.
bool ReadHexAttribute(udev_device* device, const char* name, std::uint16_t& value);

// The port of a USB device as usbhid names it in HID_PHYS
// ("usb-0000:00:14.0-1.2"): the bus name of its host controller and its
// devpath; empty when either cannot be read.
std::string UsbPortOf(udev_device* usbDevice);

// The USB device an interface belongs to: the device right above it, and
// null when that is gone (the next USB device up, a hub, is not it).
udev_device* UsbDeviceOfInterface(udev_device* interface);

// The USB device whose interface a device sits under (a terminal, a HID
// node), or null.
udev_device* UsbDeviceAbove(udev_device* device);

// The ports of many USB devices, each host controller found once: a USB
// device's sysfs name is its bus number and devpath ("1-4.1"; a root hub's
// "usb1", devpath 0), so only the first device of a bus walks up to its
// controller.
class UsbPortNames {
public:
    std::string Of(udev_device* usbDevice);

private:
    std::unordered_map<std::string, std::string> controllerByBus;
};

// The syspath of the USB device, among those given, that a device (a
// terminal, a HID node) sits under through one of that device's own
// interfaces ("<device>/1-4.1:1.0/..."); empty when none. Read from the
// paths alone: a device that is not of interest costs no look at sysfs.
std::string_view OwningUsbDevice(std::string_view syspath,
                                 const std::unordered_set<std::string_view>& usbDevices);

// The USB device at a port, found by its devpath and host controller without
// reading the other devices; none when no device sits there.
UdevDevice FindUsbDeviceAtPort(udev* context, const std::string& port);

}  // namespace platform
