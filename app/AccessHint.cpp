#include "app/AccessHint.h"

#include <iostream>

#include "device/HidDevice.h"
#include "device/UnitLimit.h"
#include "platform/usb/HidListing.h"

std::string InaccessibleDeviceHint(const platform::InaccessibleDevice& device) {
    return "Hint: " + device.name + " is present but cannot be opened (" + device.reason + "); " +
           device.remedy + ".";
}

std::string InaccessibleNodeHint(const std::string& node) {
    return InaccessibleDeviceHint(platform::DeniedNode(node));
}

void HintAtInaccessibleDevice() {
    // The search looks at every device of the IDs, and on Windows opens each:
    // a process limited to one unit looks only at the devices at its port,
    // and opens none.
    if (const UnitLimit* limit = ActiveUnitLimit()) {
        for (const UsbId& id : DevicesThatDidNotOpen()) {
            for (const platform::HidNode& node :
                 platform::ListHidDevices(id.vendorId, id.productId, limit->port)) {
                if (node.port == limit->port &&
                    platform::CheckHidAccess(node.path) == platform::NodeAccess::Denied) {
                    std::cerr << InaccessibleNodeHint(node.path) << std::endl;
                    return;
                }
            }
        }
        return;
    }
    for (const UsbId& id : DevicesThatDidNotOpen()) {
        if (const auto device = platform::FindInaccessibleHidDevice(id.vendorId, id.productId)) {
            std::cerr << InaccessibleDeviceHint(*device) << std::endl;
            return;
        }
    }
}
