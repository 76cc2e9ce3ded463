// The HID listing on Linux, read from udev the way hidapi 0.13's back ends
// read it, but meeting every null: hidapi's hidraw enumeration hands the
// uevent of the HID device above a node to strlen unchecked, and that uevent
// is null when the device leaves between the two reads.
#include "platform/usb/HidListingLinux.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>

#include "platform/usb/UdevHandles.h"
#include "platform/usb/UdevReading.h"
#include "platform/usb/UsbPortText.h"

namespace platform {

namespace {

// The buses hidapi's hidraw back end lists (linux/input.h); others are left out.
constexpr unsigned kBusUsb = 0x03;
constexpr unsigned kBusBluetooth = 0x05;
constexpr unsigned kBusI2c = 0x18;
constexpr unsigned kBusSpi = 0x1C;

// What the HID device's uevent says of it: HID_ID ("0003:000028DE:00001102":
// bus, vendor, product), HID_NAME, HID_UNIQ (the serial number, often empty)
// and HID_PHYS ("usb-0000:00:14.0-1.2/input0").
struct HidUevent {
    unsigned bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string name;
    std::string uniq;
    std::string phys;
};

// As hidapi parses it: complete only with an ID, a name and a serial number
// line (whose value may be empty); hidapi skips a device without them.
bool ParseHidUevent(const char* text, HidUevent& uevent) {
    if (text == nullptr) {
        return false;
    }
    bool haveId = false;
    bool haveName = false;
    bool haveUniq = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "HID_ID") {
            unsigned bus = 0;
            unsigned short vendorId = 0;
            unsigned short productId = 0;
            if (std::sscanf(value.c_str(), "%x:%hx:%hx", &bus, &vendorId, &productId) == 3) {
                uevent.bus = bus;
                uevent.vendorId = vendorId;
                uevent.productId = productId;
                haveId = true;
            }
        } else if (key == "HID_NAME") {
            uevent.name = value;
            haveName = true;
        } else if (key == "HID_UNIQ") {
            uevent.uniq = value;
            haveUniq = true;
        } else if (key == "HID_PHYS") {
            uevent.phys = value;
        }
    }
    return haveId && haveName && haveUniq;
}

bool Wanted(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t wantedVendorId,
            std::uint16_t wantedProductId) {
    return (wantedVendorId == 0 || vendorId == wantedVendorId) &&
           (wantedProductId == 0 || productId == wantedProductId);
}

// bcdDevice as hidapi reads it: hexadecimal, 0 when missing.
std::uint16_t Release(udev_device* usbDevice) {
    const char* text = udev_device_get_sysattr_value(usbDevice, "bcdDevice");
    return text != nullptr ? static_cast<std::uint16_t>(std::strtol(text, nullptr, 16)) : 0;
}

// The folder a syspath is in.
std::string_view Above(std::string_view syspath) {
    const std::size_t slash = syspath.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : syspath.substr(0, slash);
}

// The device at a syspath when it is of the subsystem (and device type).
UdevDevice DeviceOf(udev* context, std::string_view syspath, const char* subsystem,
                    const char* devtype) {
    UdevDevice device(syspath.empty() ? nullptr
                                      : udev_device_new_from_syspath(
                                            context, std::string(syspath).c_str()));
    const char* itsSubsystem = device ? udev_device_get_subsystem(device.get()) : nullptr;
    const char* itsDevtype = device && devtype != nullptr ? udev_device_get_devtype(device.get())
                                                          : nullptr;
    if (itsSubsystem == nullptr || std::strcmp(itsSubsystem, subsystem) != 0 ||
        (devtype != nullptr && (itsDevtype == nullptr || std::strcmp(itsDevtype, devtype) != 0))) {
        return {};
    }
    return device;
}

// Whether a HID device's sysfs name ("0003:28DE:1102.0001": bus, vendor,
// product, number) may be of the vendor and product: a node of another
// vendor is passed over without a look at sysfs. A name of another form may.
bool MayBeWanted(std::string_view hidSysname, std::uint16_t vendorId, std::uint16_t productId) {
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    const std::string name(hidSysname);
    return std::sscanf(name.c_str(), "%x:%x:%x.", &bus, &vendor, &product) != 3 ||
           Wanted(static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product),
                  vendorId, productId);
}

// The HID device of a hidraw node, which hidraw puts in a folder of the HID
// device's ("<hid>/hidraw/hidrawN"), read there at once; up through udev
// when the node sits elsewhere.
udev_device* HidDeviceOf(udev* context, udev_device* hidraw, std::string_view hidrawPath,
                         UdevDevice& owned) {
    if (Above(hidrawPath).ends_with("/hidraw")) {
        owned = DeviceOf(context, Above(Above(hidrawPath)), "hid", nullptr);
    }
    return owned ? owned.get()
                 : udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
}

// The USB device of a HID device on USB: usbhid puts the HID device in the
// folder of the USB interface, itself in the USB device's
// ("<device>/1-4.1:1.0/<hid>"), read there at once; up through udev when it
// sits elsewhere.
udev_device* UsbDeviceOfHid(udev* context, udev_device* hid, UdevDevice& owned) {
    const char* hidPath = udev_device_get_syspath(hid);
    const std::string_view interface = Above(hidPath != nullptr ? hidPath : "");
    const std::string_view device = Above(interface);
    const std::string_view deviceName = device.substr(device.rfind('/') + 1);
    if (!deviceName.empty() && interface.substr(device.size() + 1).starts_with(deviceName) &&
        interface.substr(device.size() + 1 + deviceName.size()).starts_with(":")) {
        owned = DeviceOf(context, device, "usb", "usb_device");
    }
    return owned ? owned.get() : UsbDeviceAbove(hid);
}

// One hidraw node, or false when it is not listed: gone while read, not a
// HID device hidapi lists, or not the vendor's, product's or port's.
bool ReadHidrawNode(udev* context, const char* syspath, std::uint16_t vendorId,
                    std::uint16_t productId, const std::string& onlyPort, HidNode& node) {
    const std::string_view hidrawPath = syspath != nullptr ? syspath : "";
    const std::string_view hidPath = Above(Above(hidrawPath));
    if (!MayBeWanted(hidPath.substr(hidPath.rfind('/') + 1), vendorId, productId)) {
        return false;
    }
    UdevDevice hidraw(udev_device_new_from_syspath(context, syspath));
    const char* devnode = hidraw ? udev_device_get_devnode(hidraw.get()) : nullptr;
    UdevDevice ownedHid;
    udev_device* hid =
        devnode != nullptr ? HidDeviceOf(context, hidraw.get(), hidrawPath, ownedHid) : nullptr;
    HidUevent uevent;
    if (hid == nullptr || !ParseHidUevent(udev_device_get_sysattr_value(hid, "uevent"), uevent) ||
        (uevent.bus != kBusUsb && uevent.bus != kBusBluetooth && uevent.bus != kBusI2c &&
         uevent.bus != kBusSpi) ||
        !Wanted(uevent.vendorId, uevent.productId, vendorId, productId)) {
        return false;
    }
    node.path = devnode;
    node.vendorId = uevent.vendorId;
    node.productId = uevent.productId;
    node.serialNumber = uevent.uniq;
    // The USB device's own strings and release; a device on another bus, or a
    // virtual one (uhid) without a USB device, has only the HID name.
    UdevDevice ownedUsb;
    udev_device* usb = uevent.bus == kBusUsb ? UsbDeviceOfHid(context, hid, ownedUsb) : nullptr;
    if (usb == nullptr) {
        node.product = uevent.name;
        return onlyPort.empty();
    }
    node.product = AttributeText(usb, "product");
    node.release = Release(usb);
    node.port = uevent.phys.empty() ? std::string() : UsbPortFromHidPhys(uevent.phys);
    return onlyPort.empty() || node.port == onlyPort;
}

std::vector<HidNode> ListHidraw(udev* context, udev_device* under, std::uint16_t vendorId,
                                std::uint16_t productId, const std::string& onlyPort) {
    std::vector<HidNode> nodes;
    UdevEnumeration enumeration = ScanDevices(context, "hidraw", nullptr, under);
    if (!enumeration) {
        return nodes;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        HidNode node;
        if (ReadHidrawNode(context, udev_list_entry_get_name(entry), vendorId, productId, onlyPort,
                           node)) {
            nodes.push_back(std::move(node));
        }
    }
    return nodes;
}

// A USB device and its HID interfaces, by interface number.
struct UsbDeviceWithHid {
    UdevDevice device;
    std::map<std::uint16_t, std::string> interfaces;
};

// libusb lists the devices present when its context began in the reverse
// of udev's order (each is put at the head of its list), and within a device
// the HID interfaces of its configuration in order; the path is the
// interface's sysfs name. Its strings come from the device descriptor, which
// the kernel keeps as the USB device's attributes.
std::vector<HidNode> ListUsbHidInterfaces(udev* context, udev_device* under,
                                          std::uint16_t vendorId, std::uint16_t productId,
                                          const std::string& onlyPort) {
    std::vector<HidNode> nodes;
    UdevEnumeration enumeration = ScanDevices(context, "usb", nullptr, under);
    if (!enumeration) {
        return nodes;
    }
    std::vector<UsbDeviceWithHid> devices;
    std::map<std::string, std::size_t> deviceBySyspath;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevDevice device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        const char* devtype = device ? udev_device_get_devtype(device.get()) : nullptr;
        if (devtype == nullptr) {
            continue;
        }
        const char* syspath = udev_device_get_syspath(device.get());
        if (std::strcmp(devtype, "usb_device") == 0 && syspath != nullptr) {
            deviceBySyspath.emplace(syspath, devices.size());
            devices.push_back({std::move(device), {}});
            continue;
        }
        // An interface is in its device's folder; one whose device is gone
        // is not taken for the device above.
        std::uint16_t number = 0;
        const char* name = udev_device_get_sysname(device.get());
        const auto found = syspath != nullptr ? deviceBySyspath.find(std::string(Above(syspath)))
                                              : deviceBySyspath.end();
        if (std::strcmp(devtype, "usb_interface") == 0 && found != deviceBySyspath.end() &&
            name != nullptr && AttributeText(device.get(), "bInterfaceClass") == "03" &&
            ReadHexAttribute(device.get(), "bInterfaceNumber", number)) {
            devices[found->second].interfaces.emplace(number, name);
        }
    }
    std::for_each(devices.rbegin(), devices.rend(), [&](const UsbDeviceWithHid& usb) {
        HidNode node;
        if (usb.interfaces.empty() || !ReadHexAttribute(usb.device.get(), "idVendor", node.vendorId) ||
            !ReadHexAttribute(usb.device.get(), "idProduct", node.productId) ||
            !Wanted(node.vendorId, node.productId, vendorId, productId)) {
            return;
        }
        node.port = UsbPortOf(usb.device.get());
        if (!onlyPort.empty() && node.port != onlyPort) {
            return;
        }
        node.release = Release(usb.device.get());
        node.serialNumber = AttributeText(usb.device.get(), "serial");
        node.product = AttributeText(usb.device.get(), "product");
        for (const auto& [number, path] : usb.interfaces) {
            node.path = path;
            nodes.push_back(node);
        }
    });
    return nodes;
}

}  // namespace

std::vector<HidNode> ListHidNodes(HidBackEnd backEnd, std::uint16_t vendorId,
                                  std::uint16_t productId, const std::string& onlyPort) {
    UdevContext context(udev_new());
    if (!context) {
        return {};
    }
    UdevDevice under;
    if (!onlyPort.empty()) {
        under = FindUsbDeviceAtPort(context.get(), onlyPort);
        if (!under) {
            return {};
        }
    }
    return backEnd == HidBackEnd::Libusb
               ? ListUsbHidInterfaces(context.get(), under.get(), vendorId, productId, onlyPort)
               : ListHidraw(context.get(), under.get(), vendorId, productId, onlyPort);
}

std::vector<HidNode> ListHidDevices(std::uint16_t vendorId, std::uint16_t productId,
                                    const std::string& onlyPort) {
#ifdef QUORL_HIDAPI_LIBUSB
    return ListHidNodes(HidBackEnd::Libusb, vendorId, productId, onlyPort);
#else
    return ListHidNodes(HidBackEnd::Hidraw, vendorId, productId, onlyPort);
#endif
}

}  // namespace platform
