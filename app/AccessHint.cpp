#include "app/AccessHint.h"

#include <iostream>

#include "device/HidDevice.h"
#include "device/UnitLimit.h"

std::string InaccessibleDeviceHint(const platform::InaccessibleDevice& device) {
    return "Hint: " + device.name + " is present but cannot be opened (" + device.reason + "); " +
           device.remedy + ".";
}

std::string InaccessibleNodeHint(const std::string& node) {
    return InaccessibleDeviceHint(platform::DeniedNode(node));
}

void HintAtInaccessibleDevice() {
    // The search looks at every device of the IDs, and on Windows opens each:
    // a process limited to one unit leaves the other units' devices alone.
    if (ActiveUnitLimit() != nullptr) {
        return;
    }
    for (const UsbId& id : DevicesThatDidNotOpen()) {
        if (const auto device = platform::FindInaccessibleHidDevice(id.vendorId, id.productId)) {
            std::cerr << InaccessibleDeviceHint(*device) << std::endl;
            return;
        }
    }
}
