#include "platform/usb/UdevReading.h"

#include <cstdlib>
#include <cstring>

#include "platform/usb/UsbPortText.h"

namespace platform {

UdevEnumeration ScanDevices(udev* context, const char* subsystem, const char* devtype,
                            udev_device* under) {
    UdevEnumeration enumeration(context != nullptr ? udev_enumerate_new(context) : nullptr);
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), subsystem) < 0 ||
        (devtype != nullptr &&
         udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", devtype) < 0) ||
        (under != nullptr && udev_enumerate_add_match_parent(enumeration.get(), under) < 0) ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return {};
    }
    return enumeration;
}

std::string AttributeText(udev_device* device, const char* name) {
    const char* text = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
    return text != nullptr ? text : "";
}

bool ReadHexAttribute(udev_device* device, const char* name, std::uint16_t& value) {
    const char* text = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
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

udev_device* UsbDeviceOfInterface(udev_device* interface) {
    udev_device* usb = interface != nullptr ? udev_device_get_parent(interface) : nullptr;
    const char* devtype = usb != nullptr ? udev_device_get_devtype(usb) : nullptr;
    if (devtype == nullptr || std::strcmp(devtype, "usb_device") != 0) {
        return nullptr;
    }
    const char* interfacePath = udev_device_get_syspath(interface);
    const char* usbPath = udev_device_get_syspath(usb);
    if (interfacePath == nullptr || usbPath == nullptr) {
        return nullptr;
    }
    const std::string_view path(interfacePath);
    return path.substr(0, path.rfind('/')) == usbPath ? usb : nullptr;
}

udev_device* UsbDeviceAbove(udev_device* device) {
    return UsbDeviceOfInterface(
        device != nullptr
            ? udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface")
            : nullptr);
}

namespace {

// The bus name of the host controller: the first device above the USB
// device outside the usb subsystem (such as the PCI function 0000:00:14.0).
std::string HostControllerAbove(udev_device* usbDevice) {
    udev_device* above = usbDevice != nullptr ? udev_device_get_parent(usbDevice) : nullptr;
    while (above != nullptr) {
        const char* subsystem = udev_device_get_subsystem(above);
        if (subsystem == nullptr || std::strcmp(subsystem, "usb") != 0) {
            break;
        }
        above = udev_device_get_parent(above);
    }
    const char* controller = above != nullptr ? udev_device_get_sysname(above) : nullptr;
    return controller != nullptr ? controller : "";
}

}  // namespace

std::string UsbPortOf(udev_device* usbDevice) {
    return LinuxUsbPortName(HostControllerAbove(usbDevice), AttributeText(usbDevice, "devpath"));
}

std::string UsbPortNames::Of(udev_device* usbDevice) {
    const char* name = usbDevice != nullptr ? udev_device_get_sysname(usbDevice) : nullptr;
    const std::string_view sysname = name != nullptr ? name : "";
    const std::size_t dash = sysname.find('-');
    std::string_view bus;
    std::string_view devpath;
    if (sysname.starts_with("usb")) {
        bus = sysname.substr(3);
        devpath = "0";
    } else if (dash != std::string_view::npos) {
        bus = sysname.substr(0, dash);
        devpath = sysname.substr(dash + 1);
    }
    if (bus.empty() || devpath.empty()) {
        return UsbPortOf(usbDevice);
    }
    std::string& controller = controllerByBus[std::string(bus)];
    if (controller.empty()) {
        controller = HostControllerAbove(usbDevice);
    }
    return LinuxUsbPortName(controller, std::string(devpath));
}

std::string_view OwningUsbDevice(std::string_view syspath,
                                 const std::unordered_set<std::string_view>& usbDevices) {
    for (std::size_t slash = syspath.rfind('/'); slash != std::string_view::npos && slash > 0;
         slash = syspath.rfind('/', slash - 1)) {
        const std::string_view above = syspath.substr(0, slash);
        if (!usbDevices.contains(above)) {
            continue;
        }
        // The next part down must be an interface of that device ("1-4.1:1.0"),
        // not a device behind it that is gone.
        const std::string_view sysname = above.substr(above.rfind('/') + 1);
        const std::string_view next = syspath.substr(slash + 1);
        return next.starts_with(sysname) && next.substr(sysname.size()).starts_with(":")
                   ? above
                   : std::string_view();
    }
    return {};
}

// A USB device's sysfs name is its bus number and devpath ("1-1.2"): only
// those ending in the port's devpath are read, one per bus at most, and the
// one under the port's host controller is it.
UdevDevice FindUsbDeviceAtPort(udev* context, const std::string& port) {
    const std::size_t dash = port.rfind('-');
    if (context == nullptr || !port.starts_with("usb-") || dash == std::string::npos ||
        dash <= 4) {
        return {};
    }
    const std::string devpath = port.substr(dash + 1);
    // Digits and dots only, so that nothing in it reads as a pattern.
    if (devpath.empty() || devpath.find_first_not_of("0123456789.") != std::string::npos) {
        return {};
    }
    UdevEnumeration candidates(udev_enumerate_new(context));
    const std::string sysname = "*-" + devpath;
    if (!candidates || udev_enumerate_add_match_subsystem(candidates.get(), "usb") < 0 ||
        udev_enumerate_add_match_property(candidates.get(), "DEVTYPE", "usb_device") < 0 ||
        udev_enumerate_add_match_sysname(candidates.get(), sysname.c_str()) < 0 ||
        udev_enumerate_scan_devices(candidates.get()) < 0) {
        return {};
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(candidates.get())) {
        UdevDevice device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (device && UsbPortOf(device.get()) == port) {
            return device;
        }
    }
    return {};
}

}  // namespace platform
