// The texts of a USB device's listing entry. The Linux listing and the
// simulator build them alike, so that the search for a device sees the same
// text on either.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// Hardware identifiers as Windows forms them from the device descriptor:
// upper-case hexadecimal, 4 digits, the most specific first.
inline std::vector<std::string> UsbHardwareIds(std::uint16_t vendorId, std::uint16_t productId,
                                               std::uint16_t revision) {
    char withRevision[40];
    char withoutRevision[32];
    std::snprintf(withRevision, sizeof withRevision, "USB\\VID_%04X&PID_%04X&REV_%04X",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId),
                  static_cast<unsigned>(revision));
    std::snprintf(withoutRevision, sizeof withoutRevision, "USB\\VID_%04X&PID_%04X",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId));
    return {withRevision, withoutRevision};
}

// The product name, followed by the serial port in parentheses when the
// device has one, as a device manager shows a serial port.
inline std::string UsbDisplayName(const std::string& product, const std::string& serialPort) {
    return serialPort.empty() ? product : product + " (" + serialPort + ")";
}

}  // namespace platform
