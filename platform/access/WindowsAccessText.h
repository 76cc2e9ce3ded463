// A HID device or a path that refuses the user, as the Windows platform and
// the simulator built for Windows explain it: there are no permissions to
// grant, but another program may hold the device.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/access/DeviceAccess.h"

namespace platform {

inline constexpr const char* kWindowsAccessRemedy =
    "close any other program that uses it, replug it and run the command again";

// "USB device VID_28DE&PID_1042", as Device Manager's hardware IDs write it.
inline std::string WindowsUsbDeviceName(std::uint16_t vendorId, std::uint16_t productId) {
    char name[40];
    std::snprintf(name, sizeof name, "USB device VID_%04X&PID_%04X", static_cast<unsigned>(vendorId),
                  static_cast<unsigned>(productId));
    return name;
}

inline InaccessibleDevice WindowsDeniedNode(const std::string& node) {
    return {node, "access denied", kWindowsAccessRemedy};
}

inline InaccessibleDevice WindowsDeviceInUse(std::uint16_t vendorId, std::uint16_t productId) {
    return {WindowsUsbDeviceName(vendorId, productId), "in use by another program",
            kWindowsAccessRemedy};
}

}  // namespace platform
