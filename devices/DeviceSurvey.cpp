#include "devices/DeviceSurvey.h"

#include <hidapi/hidapi.h>

#include "app/TivanePort.h"
#include "device/UsbIds.h"
#include "platform/access/DeviceAccess.h"
#include "platform/Platform.h"
#include "platform/usb/HidListing.h"

namespace {

Access AccessFrom(platform::NodeAccess node) {
    switch (node) {
        case platform::NodeAccess::Granted:
            return Access::Ok;
        case platform::NodeAccess::Denied:
            return Access::Denied;
        case platform::NodeAccess::Unknown:
            return Access::Unknown;
        case platform::NodeAccess::Unavailable:
            break;
    }
    return Access::Failed;
}

// Opens and closes at once: opening a HID device sends nothing to it. An open
// alone does not tell: hidapi on Windows opens a device that refuses reading
// and writing without access rights, so the system's own check decides too.
// Such a handle still carries feature reports: it serves every device but
// the one whose commands read input reports.
Access HidAccess(const std::string& path, std::uint16_t productId) {
    if (path.empty()) {
        return Access::Failed;
    }
    const bool denied = platform::CheckHidAccess(path) == platform::NodeAccess::Denied;
    if (hid_device* handle = hid_open_path(path.c_str())) {
        hid_close(handle);
        if (denied) {
            return CommandsReadInputReports(productId) ? Access::Denied : Access::Held;
        }
        return Access::Ok;
    }
    return denied ? Access::Denied : Access::Failed;
}

// Every HID node of the family's vendor once, with its port, read in one
// pass by the platform.
void AddHidDevices(std::vector<ListedDevice>& listing, AccessTest test,
                   const std::string& onlyPort) {
    for (platform::HidNode& node : platform::ListHidDevices(kQuorlVendorId, 0, onlyPort)) {
        const auto what = ClassifyDevice(node.vendorId, node.productId);
        if (!what) {
            continue;
        }
        ListedDevice device;
        device.what = *what;
        device.vendorId = node.vendorId;
        device.productId = node.productId;
        device.release = node.release;
        device.serialNumber = std::move(node.serialNumber);
        device.product = std::move(node.product);
        device.access = test == AccessTest::TryOpening ? HidAccess(node.path, node.productId)
                                                      : Access::Unknown;
        device.path = std::move(node.path);
        device.port = std::move(node.port);
        listing.push_back(std::move(device));
    }
}

// The Tivane's application is a serial port. It is never opened: opening a
// port can toggle DTR. Linux shows its node's permissions; Windows tells
// nothing without an open, so its access stays unknown there.
void AddTivaneSerialPorts(std::vector<ListedDevice>& listing, const std::string& onlyPort) {
    for (const platform::UsbDevice& usb : platform::ListUsbDevices(onlyPort)) {
        if (usb.vendorId != kTivaneSerialVendorId || usb.productId != kTivaneSerialProductId) {
            continue;
        }
        ListedDevice device;
        device.what = *ClassifyDevice(usb.vendorId, usb.productId);
        device.vendorId = usb.vendorId;
        device.productId = usb.productId;
        device.release = usb.revision;
        device.serialNumber = usb.serialNumber;
        device.product = usb.product;
        device.path = SerialPortOf(usb).value_or("");
        device.port = usb.port;
        device.access = device.path.empty()
                            ? Access::Failed
                            : AccessFrom(platform::CheckSerialPortAccess(device.path));
        listing.push_back(std::move(device));
    }
}

}  // namespace

std::vector<ListedDevice> SurveyFamilyDevices(AccessTest test, const std::string& onlyPort) {
    std::vector<ListedDevice> listing;
    AddHidDevices(listing, test, onlyPort);
    AddTivaneSerialPorts(listing, onlyPort);
    return listing;
}
