// platform/serial: serial ports by name (a tty node, a COM port).
// Writing one byte to a serial port by its name: a terminal's device node
// (/dev/ttyACM0) with POSIX calls, or a COM port (COM5, COM12) with Win32
// calls. The platform's serial-port operation wraps it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Opens the port (on POSIX without making it the controlling terminal), puts
// it in raw mode, writes the byte and closes it. Waits at most timeoutMs for
// the port to take the byte. Anything that is not a serial port is left
// untouched. On failure, failure (when given) receives why, in one line that
// names the port (SerialPortText.h).
bool WriteByteToPort(const std::string& port, std::uint8_t byte, int timeoutMs,
                     std::string* failure = nullptr);

#ifndef _WIN32
// The same, checking the terminal once it is open and before anything is
// written: given the open descriptor, checkOpened says why the byte must not
// go (then the port is closed untouched and failure receives that), or
// nothing.
bool WriteByteToPort(const std::string& port, std::uint8_t byte, int timeoutMs,
                     std::string* failure,
                     const std::function<std::string(int descriptor)>& checkOpened);
#endif

#ifdef _WIN32
// The same, checking the COM port once it is open and before anything is
// written: given its open handle, checkOpened says why the byte must not go
// (then the port is closed untouched and failure receives that), or nothing.
bool WriteByteToPort(const std::string& port, std::uint8_t byte, int timeoutMs,
                     std::string* failure, const std::function<std::string(void* port)>& checkOpened);

// Why a step on the COM port failed with this Win32 error. Windows opens a
// serial port for one program at a time: while a terminal holds it, a second
// open is refused with "Access denied" (Wine lets it open).
std::string ComPortFailure(const std::string& port, unsigned long error);
#endif

}  // namespace platform
