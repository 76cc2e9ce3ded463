#include "app/AccessHint.h"

#include <iostream>

#include "device/HidDevice.h"
#include "platform/DeviceAccess.h"

void HintAtInaccessibleDevice() {
    for (const UsbId& id : DevicesThatDidNotOpen()) {
        if (const auto node = platform::FindInaccessibleHidNode(id.vendorId, id.productId)) {
            std::cerr << "Hint: " << *node
                      << " is present but cannot be opened (permission denied); install "
                         "60-quorl-firmware.rules into /etc/udev/rules.d, run "
                         "\"udevadm control --reload\" and replug the device."
                      << std::endl;
            return;
        }
    }
}
