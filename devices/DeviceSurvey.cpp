#include "devices/DeviceSurvey.h"

#include <set>

#include <hidapi/hidapi.h>

#include "app/TivanePort.h"
#include "device/UsbIds.h"
#include "device/WideText.h"
#include "platform/access/DeviceAccess.h"
#include "platform/Platform.h"
#include "platform/usb/UsbPort.h"

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

// Every HID node of the family's vendor once: hidraw lists a node once per
// top-level collection of its report descriptor.
void AddHidDevices(std::vector<ListedDevice>& listing, AccessTest test) {
    hid_device_info* all = hid_enumerate(kQuorlVendorId, 0);
    std::set<std::string> seen;
    for (const hid_device_info* info = all; info != nullptr; info = info->next) {
        const std::string path = info->path != nullptr ? info->path : "";
        const auto what = ClassifyDevice(info->vendor_id, info->product_id);
        if (!what || !seen.insert(path).second) {
            continue;
        }
        ListedDevice device;
        device.what = *what;
        device.vendorId = info->vendor_id;
        device.productId = info->product_id;
        device.release = info->release_number;
        device.serialNumber = Utf8FromWide(info->serial_number);
        device.product = Utf8FromWide(info->product_string);
        device.path = path;
        device.port = platform::UsbPortOfHidDevice(path);
        device.access = test == AccessTest::TryOpening ? HidAccess(path, info->product_id)
                                                      : Access::Unknown;
        listing.push_back(std::move(device));
    }
    hid_free_enumeration(all);
}

// The Tivane's application is a serial port. It is never opened: opening a
// port can toggle DTR. Linux shows its node's permissions; Windows tells
// nothing without an open, so its access stays unknown there.
void AddTivaneSerialPorts(std::vector<ListedDevice>& listing) {
    for (const platform::UsbDevice& usb : platform::ListUsbDevices()) {
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

std::vector<ListedDevice> SurveyFamilyDevices(AccessTest test) {
    std::vector<ListedDevice> listing;
    AddHidDevices(listing, test);
    AddTivaneSerialPorts(listing);
    return listing;
}
