#include "app/TivanePort.h"

#include <cctype>
#include <cstdio>

std::string UsbIdSearchPattern(std::uint16_t vendorId, std::uint16_t productId) {
    char VidPidStr[20];
    std::snprintf(VidPidStr, sizeof VidPidStr, "VID_%4x&PID_%4x", static_cast<unsigned>(vendorId),
                  static_cast<unsigned>(productId));
    return VidPidStr;
}

std::optional<std::string> FirstPortMatching(const std::vector<platform::UsbDevice>& devices,
                                             const std::string& pattern) {
    for (const platform::UsbDevice& device : devices) {
        const std::vector<std::string>& ids = device.hardwareIds;
        if (ids.empty() || ids.front().find(pattern) == std::string::npos) {
            continue;
        }
        // A match without a port (its port not created yet, say) is passed
        // over for the next one: the byte never goes to a port guessed for it.
        if (std::optional<std::string> port = SerialPortOf(device)) {
            return port;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ComPortInDisplayName(const std::string& displayName) {
    auto isDigit = [&](std::size_t at) {
        return at < displayName.size() && std::isdigit(static_cast<unsigned char>(displayName[at]));
    };
    for (std::size_t at = displayName.find("COM"); at != std::string::npos;
         at = displayName.find("COM", at + 1)) {
        std::size_t end = at + 3;
        while (isDigit(end)) {
            ++end;
        }
        // The whole number: a port such as COM12 must not become COM1, which
        // would send the restart byte to another device.
        if (end > at + 3) {
            return displayName.substr(at, end - at);
        }
    }
    return std::nullopt;
}

std::optional<std::string> SerialPortOf(const platform::UsbDevice& device) {
    if (!device.serialPort.empty()) {
        return device.serialPort;
    }
    return ComPortInDisplayName(device.displayName);
}
