// Finds hidraw nodes of a given USB device that exist but refuse the user,
// from udev: each hidraw node's HID parent carries HID_ID=bus:vendor:product.
#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <libudev.h>

#include "platform/access/DeviceAccess.h"
#include "platform/access/LinuxAccessText.h"
#include "platform/access/NodePermissions.h"
#include "platform/usb/UdevHandles.h"

namespace platform {

namespace {

bool HasIds(udev_device* hidraw, std::uint16_t vendorId, std::uint16_t productId) {
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    return id != nullptr && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3 &&
           vendor == vendorId && product == productId;
}

// A hidraw node and a terminal alike: the permissions of the device node.
NodeAccess CheckNodePermissions(const std::string& node) {
    return NodePermissionsForThisProcess(node);
}

}  // namespace

NodeAccess CheckHidAccess(const std::string& path) { return CheckNodePermissions(path); }

// hidraw's paths are the nodes themselves; a node that is gone went with its
// device. The libusb back end's paths (bus-port:interface) are no files.
std::optional<bool> HidDevicePresent(const std::string& path) {
    if (path.rfind("/dev/", 0) != 0) {
        return std::nullopt;
    }
    return faccessat(AT_FDCWD, path.c_str(), F_OK, AT_EACCESS) == 0;
}

NodeAccess CheckSerialPortAccess(const std::string& port) { return CheckNodePermissions(port); }

InaccessibleDevice DeniedNode(const std::string& node) { return LinuxDeniedNode(node); }

std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId) {
    UdevContext context(udev_new());
    if (!context) {
        return std::nullopt;
    }
    UdevEnumeration nodes(udev_enumerate_new(context.get()));
    if (!nodes || udev_enumerate_add_match_subsystem(nodes.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(nodes.get()) < 0) {
        return std::nullopt;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(nodes.get())) {
        UdevDevice hidraw(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        const char* node = hidraw ? udev_device_get_devnode(hidraw.get()) : nullptr;
        if (node != nullptr && HasIds(hidraw.get(), vendorId, productId) &&
            CheckNodePermissions(node) == NodeAccess::Denied) {
            return LinuxDeniedNode(node);
        }
    }
    return std::nullopt;
}

}  // namespace platform
