// The USB device listing on Linux, from udev: every USB device (not its
// interfaces), with the device node of the first terminal below it, which is
// where a USB serial function (cdc_acm, a USB-serial bridge) shows up, and
// the port it sits on; the port of a HID node and of an open terminal.
//
// One udev context and one pass over the devices and one over the terminals,
// each terminal matched to the USB device it sits under: the time grows with
// the number of devices, not with its square.
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <libudev.h>
#include <sys/stat.h>

#include "platform/Platform.h"
#include "platform/usb/UdevHandles.h"
#include "platform/usb/UdevReading.h"
#include "platform/usb/UsbListingText.h"
#include "platform/usb/UsbPort.h"
#include "platform/usb/UsbPortText.h"

namespace platform {

namespace {

// The device node of the first terminal of each USB device, by the USB
// device's syspath: only terminals that sit under one of the devices' own
// interfaces are looked at, and each counts for its own device only (a hub
// gets none of the ports of the devices behind it).
std::unordered_map<std::string, std::string> TerminalsByUsbDevice(
    udev* context, udev_device* under, const std::unordered_set<std::string_view>& usbDevices) {
    std::unordered_map<std::string, std::string> terminals;
    UdevEnumeration enumeration = ScanDevices(context, "tty", nullptr, under);
    if (!enumeration) {
        return terminals;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        const std::string owner(
            syspath != nullptr ? OwningUsbDevice(syspath, usbDevices) : std::string_view());
        if (owner.empty() || terminals.contains(owner)) {
            continue;
        }
        UdevDevice terminal(udev_device_new_from_syspath(context, syspath));
        const char* node = terminal ? udev_device_get_devnode(terminal.get()) : nullptr;
        if (node != nullptr) {
            terminals.emplace(owner, node);
        }
    }
    return terminals;
}

// The listing's entry of one USB device; false for a device without a
// descriptor (gone since the scan).
bool ReadUsbDevice(udev_device* device,
                   const std::unordered_map<std::string, std::string>& terminals,
                   UsbPortNames& ports, UsbDevice& listed) {
    if (device == nullptr || !ReadHexAttribute(device, "idVendor", listed.vendorId) ||
        !ReadHexAttribute(device, "idProduct", listed.productId) ||
        !ReadHexAttribute(device, "bcdDevice", listed.revision)) {
        return false;
    }
    const char* product = udev_device_get_sysattr_value(device, "product");
    const char* syspath = udev_device_get_syspath(device);
    const auto terminal = syspath != nullptr ? terminals.find(syspath) : terminals.end();
    listed.hardwareIds = UsbHardwareIds(listed.vendorId, listed.productId, listed.revision);
    listed.serialPort = terminal != terminals.end() ? terminal->second : std::string();
    listed.displayName =
        UsbDisplayName(product != nullptr ? product : "USB device", listed.serialPort);
    listed.serialNumber = AttributeText(device, "serial");
    listed.product = product != nullptr ? product : "";
    listed.port = ports.Of(device);
    return true;
}

}  // namespace

// hidraw's HID parent carries the place usbhid gave it, HID_PHYS
// ("usb-0000:00:14.0-1.2/input0"); a HID device that is not on USB (Bluetooth,
// I2C) has no USB port. A libusb path names the USB interface itself.
std::string UsbPortOfHidDevice(const std::string& hidPath) {
    UdevContext context(udev_new());
    if (!context || hidPath.empty()) {
        return {};
    }
    // A path of hidapi's libusb back end is the sysfs name of the HID
    // interface: bus number and port chain, configuration and interface
    // ("1-1.2:1.0").
    if (!hidPath.starts_with("/")) {
        if (hidPath.find_first_not_of("0123456789-.:") != std::string::npos) {
            return {};
        }
        UdevDevice interface(
            udev_device_new_from_subsystem_sysname(context.get(), "usb", hidPath.c_str()));
        return UsbPortOf(UsbDeviceOfInterface(interface.get()));
    }
    const std::string sysname = hidPath.substr(hidPath.rfind('/') + 1);
    UdevDevice hidraw(
        udev_device_new_from_subsystem_sysname(context.get(), "hidraw", sysname.c_str()));
    udev_device* hid = hidraw ? udev_device_get_parent_with_subsystem_devtype(hidraw.get(), "hid",
                                                                               nullptr)
                              : nullptr;
    if (hid == nullptr || UsbDeviceAbove(hid) == nullptr) {
        return {};
    }
    const char* phys = udev_device_get_property_value(hid, "HID_PHYS");
    return phys != nullptr ? UsbPortFromHidPhys(phys) : std::string();
}

// The device the descriptor has open, by its device number, as udev knows
// it: not the node's name, which a new device may have taken since.
std::string UsbPortOfOpenTerminal(int descriptor) {
    struct stat opened {};
    if (::fstat(descriptor, &opened) != 0 || !S_ISCHR(opened.st_mode)) {
        return {};
    }
    UdevContext context(udev_new());
    UdevDevice terminal(context ? udev_device_new_from_devnum(context.get(), 'c', opened.st_rdev)
                                : nullptr);
    return UsbPortOf(UsbDeviceAbove(terminal.get()));
}

std::vector<UsbDevice> ListUsbDevices(const std::string& onlyPort) {
    std::vector<UsbDevice> devices;
    UdevContext context(udev_new());
    if (!context) {
        return devices;
    }
    UsbPortNames ports;
    if (!onlyPort.empty()) {
        UdevDevice device = FindUsbDeviceAtPort(context.get(), onlyPort);
        const char* syspath = device ? udev_device_get_syspath(device.get()) : nullptr;
        UsbDevice listed;
        if (syspath != nullptr &&
            ReadUsbDevice(device.get(), TerminalsByUsbDevice(context.get(), device.get(), {syspath}),
                          ports, listed)) {
            devices.push_back(std::move(listed));
        }
        return devices;
    }
    UdevEnumeration enumeration = ScanDevices(context.get(), "usb", "usb_device", nullptr);
    if (!enumeration) {
        return devices;
    }
    std::vector<std::string> syspaths;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        if (const char* syspath = udev_list_entry_get_name(entry)) {
            syspaths.emplace_back(syspath);
        }
    }
    const auto terminals = TerminalsByUsbDevice(
        context.get(), nullptr,
        std::unordered_set<std::string_view>(syspaths.begin(), syspaths.end()));
    for (const std::string& syspath : syspaths) {
        UdevDevice device(udev_device_new_from_syspath(context.get(), syspath.c_str()));
        UsbDevice listed;
        if (ReadUsbDevice(device.get(), terminals, ports, listed)) {
            devices.push_back(std::move(listed));
        }
    }
    return devices;
}

}  // namespace platform
