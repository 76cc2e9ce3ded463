#include "app/AccessHint.h"

#include <iostream>

#include "device/HidDevice.h"
#include "platform/DeviceAccess.h"

void HintAtInaccessibleDevice() {
    for (const UsbId& id : DevicesThatDidNotOpen()) {
        if (const auto device = platform::FindInaccessibleHidDevice(id.vendorId, id.productId)) {
            std::cerr << "Hint: " << device->name << " is present but cannot be opened ("
                      << device->reason << "); " << device->remedy << "." << std::endl;
            return;
        }
    }
}
