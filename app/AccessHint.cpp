#include "app/AccessHint.h"

#include <iostream>

#include "device/HidDevice.h"
#include "platform/DeviceAccess.h"

std::string InaccessibleNodeHint(const std::string& node) {
    return "Hint: " + node +
           " is present but cannot be opened (permission denied); install "
           "60-quorl-firmware.rules into /etc/udev/rules.d, run "
           "\"udevadm control --reload\" and replug the device.";
}

void HintAtInaccessibleDevice() {
    for (const UsbId& id : DevicesThatDidNotOpen()) {
        if (const auto node = platform::FindInaccessibleHidNode(id.vendorId, id.productId)) {
            std::cerr << InaccessibleNodeHint(*node) << std::endl;
            return;
        }
    }
}
