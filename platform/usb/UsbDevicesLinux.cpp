// The USB device listing on Linux, from udev: every USB device (not its
// interfaces), with the device node of the first terminal below it, which is
// where a USB serial function (cdc_acm, a USB-serial bridge) shows up, and
// the port it sits on; and the port of a hidraw node.
#include <cstdlib>
#include <cstring>
#include <memory>

#include <libudev.h>

#include "platform/Platform.h"
#include "platform/usb/UdevHandles.h"
#include "platform/usb/UsbListingText.h"
#include "platform/usb/UsbPort.h"
#include "platform/usb/UsbPortText.h"

namespace platform {

namespace {

// A hexadecimal sysfs attribute such as idVendor ("2548"), or nothing.
bool ReadHexAttribute(udev_device* device, const char* name, std::uint16_t& value) {
    const char* text = udev_device_get_sysattr_value(device, name);
    if (text == nullptr) {
        return false;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 16);
    if (end == text || number > 0xFFFF) {
        return false;
    }
    value = static_cast<std::uint16_t>(number);
    return true;
}

// The device node of the first terminal below the USB device, or empty.
std::string SerialPortBelow(udev* context, udev_device* usbDevice) {
    UdevEnumeration terminals(udev_enumerate_new(context));
    if (!terminals || udev_enumerate_add_match_subsystem(terminals.get(), "tty") < 0 ||
        udev_enumerate_add_match_parent(terminals.get(), usbDevice) < 0 ||
        udev_enumerate_scan_devices(terminals.get()) < 0) {
        return {};
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(terminals.get())) {
        UdevDevice terminal(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        const char* node = terminal ? udev_device_get_devnode(terminal.get()) : nullptr;
        if (node != nullptr) {
            return node;
        }
    }
    return {};
}

// The port of a USB device as usbhid names it in HID_PHYS: the bus name of
// its host controller (the first device above it outside the usb subsystem,
// such as the PCI function 0000:00:14.0) and its devpath ("1.2").
std::string UsbPortOf(udev_device* usbDevice) {
    const char* devpath = udev_device_get_sysattr_value(usbDevice, "devpath");
    udev_device* above = udev_device_get_parent(usbDevice);
    while (above != nullptr) {
        const char* subsystem = udev_device_get_subsystem(above);
        if (subsystem == nullptr || std::strcmp(subsystem, "usb") != 0) {
            break;
        }
        above = udev_device_get_parent(above);
    }
    const char* controller = above != nullptr ? udev_device_get_sysname(above) : nullptr;
    return LinuxUsbPortName(controller != nullptr ? controller : "",
                            devpath != nullptr ? devpath : "");
}

}  // namespace

// hidraw's HID parent carries the place usbhid gave it, HID_PHYS
// ("usb-0000:00:14.0-1.2/input0"); a HID device that is not on USB (Bluetooth,
// I2C) has no USB port.
std::string UsbPortOfHidDevice(const std::string& hidPath) {
    const std::size_t slash = hidPath.rfind('/');
    const std::string sysname = slash == std::string::npos ? hidPath : hidPath.substr(slash + 1);
    UdevContext context(udev_new());
    if (!context || sysname.empty()) {
        return {};
    }
    UdevDevice hidraw(
        udev_device_new_from_subsystem_sysname(context.get(), "hidraw", sysname.c_str()));
    udev_device* hid = hidraw ? udev_device_get_parent_with_subsystem_devtype(hidraw.get(), "hid",
                                                                               nullptr)
                              : nullptr;
    if (hid == nullptr ||
        udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device") == nullptr) {
        return {};
    }
    const char* phys = udev_device_get_property_value(hid, "HID_PHYS");
    return phys != nullptr ? UsbPortFromHidPhys(phys) : std::string();
}

std::vector<UsbDevice> ListUsbDevices() {
    std::vector<UsbDevice> devices;
    UdevContext context(udev_new());
    if (!context) {
        return devices;
    }
    UdevEnumeration enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "usb") < 0 ||
        udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return devices;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevDevice device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::uint16_t revision = 0;
        // A device gone since the scan, or without a descriptor, is not listed.
        if (!device || !ReadHexAttribute(device.get(), "idVendor", vendorId) ||
            !ReadHexAttribute(device.get(), "idProduct", productId) ||
            !ReadHexAttribute(device.get(), "bcdDevice", revision)) {
            continue;
        }
        const char* product = udev_device_get_sysattr_value(device.get(), "product");
        const char* serialNumber = udev_device_get_sysattr_value(device.get(), "serial");
        UsbDevice listed;
        listed.hardwareIds = UsbHardwareIds(vendorId, productId, revision);
        listed.serialPort = SerialPortBelow(context.get(), device.get());
        listed.displayName =
            UsbDisplayName(product != nullptr ? product : "USB device", listed.serialPort);
        listed.vendorId = vendorId;
        listed.productId = productId;
        listed.revision = revision;
        listed.serialNumber = serialNumber != nullptr ? serialNumber : "";
        listed.product = product != nullptr ? product : "";
        listed.port = UsbPortOf(device.get());
        devices.push_back(std::move(listed));
    }
    return devices;
}

}  // namespace platform
