// Writing one byte to a terminal device (a USB serial port's device node),
// with POSIX calls alone. The platform's serial-port operation wraps it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Opens path without making it the controlling terminal, puts it in raw
// mode, writes the byte and closes it. Waits at most timeoutMs for the port
// to take the byte. Anything that is not a terminal is left untouched.
bool WriteByteToTty(const std::string& path, std::uint8_t byte, int timeoutMs);

}  // namespace platform
