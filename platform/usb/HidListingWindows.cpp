// The HID listing on Windows: hidapi's own enumeration, which reads every
// field it gives without trusting a device to stay, and the port of each
// collection through the device tree (UsbDevicesWindows.cpp).
#include "platform/usb/HidListing.h"

#include <set>

#include <hidapi/hidapi.h>

#include "platform/text/WideText.h"
#include "platform/usb/UsbPort.h"

namespace platform {

std::vector<HidNode> ListHidDevices(std::uint16_t vendorId, std::uint16_t productId,
                                    const std::string& onlyPort) {
    std::vector<HidNode> nodes;
    std::set<std::string> seen;
    hid_device_info* all = hid_enumerate(vendorId, productId);
    for (const hid_device_info* info = all; info != nullptr; info = info->next) {
        HidNode node;
        node.path = info->path != nullptr ? info->path : "";
        if (!seen.insert(node.path).second) {
            continue;
        }
        node.port = UsbPortOfHidDevice(node.path);
        if (!onlyPort.empty() && node.port != onlyPort) {
            continue;
        }
        node.vendorId = info->vendor_id;
        node.productId = info->product_id;
        node.release = info->release_number;
        node.serialNumber = info->serial_number != nullptr ? Utf8FromWide(info->serial_number) : "";
        node.product = info->product_string != nullptr ? Utf8FromWide(info->product_string) : "";
        nodes.push_back(std::move(node));
    }
    hid_free_enumeration(all);
    return nodes;
}

}  // namespace platform
