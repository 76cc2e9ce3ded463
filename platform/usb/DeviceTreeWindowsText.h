// Which node of Windows' device tree gives a device its USB port, on the
// instance IDs alone, so that the rule is checked on every system.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb/UsbPortText.h"

namespace platform {

// Whether an instance ID names a Bluetooth node: a device on a Bluetooth
// link (BTHENUM\ for classic, BTHLE\ and BTHLEDEVICE\ for low energy) or the
// Bluetooth bus itself (BTH\). Case does not count.
inline bool IsBluetoothInstance(std::string_view instanceId) {
    const auto startsWith = [&](std::string_view prefix) {
        if (instanceId.size() < prefix.size()) {
            return false;
        }
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(instanceId[i])) != prefix[i]) {
                return false;
            }
        }
        return true;
    };
    return startsWith("BTHENUM\\") || startsWith("BTHLE\\") || startsWith("BTHLEDEVICE\\") ||
           startsWith("BTH\\");
}

// The node whose location path is the port of a device, from the instance IDs
// on its way up the tree (the device itself first): the first USB device
// node. A device whose way passes a Bluetooth node first has no port: the USB
// device above it is the computer's Bluetooth radio, which every Bluetooth
// device shares. Empty when there is no port.
inline std::string UsbDeviceOnWayUp(const std::vector<std::string>& wayUp) {
    for (const std::string& instanceId : wayUp) {
        if (IsBluetoothInstance(instanceId)) {
            return {};
        }
        if (IsUsbDeviceInstance(instanceId)) {
            return instanceId;
        }
    }
    return {};
}

}  // namespace platform
