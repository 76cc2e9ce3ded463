// Why a byte could not be written to a serial port, as the platforms and the
// simulator built for them say it: one line, naming the port.
#pragma once

#include <string>
#include <utility>

namespace platform {

// Another program (a terminal) holds the port: Windows opens a serial port
// for one program at a time, and Linux refuses a terminal set exclusive.
inline std::string SerialPortInUse(const std::string& port) {
    return port + " is in use by another program";
}

// The system's own explanation, such as "Permission denied".
inline std::string SerialPortError(const std::string& port, const std::string& systemMessage) {
    return port + ": " + systemMessage;
}

inline std::string NotASerialPort(const std::string& port) { return port + " is not a serial port"; }

inline std::string SerialPortTookNothing(const std::string& port, int timeoutMs) {
    return port + " took nothing within " + std::to_string(timeoutMs) + " ms";
}

// The node was opened, but it belongs to a device at another USB port than
// the one asked for: its name went to another device since it was listed.
inline std::string SerialPortNoLongerAt(const std::string& port, const std::string& usbPort) {
    return port + " is no longer at " + usbPort;
}

// Sets why a write failed, when the caller asked; false.
inline bool PortWriteFailed(std::string* failure, std::string why) {
    if (failure != nullptr) {
        *failure = std::move(why);
    }
    return false;
}

}  // namespace platform
