#include "platform/Platform.h"
#include "platform/serial/PortWriter.h"
#include "platform/serial/SerialPortText.h"
#ifdef _WIN32
#include "platform/usb/UsbPortWindows.h"
#else
#include "platform/usb/UsbPort.h"
#endif

namespace platform {

namespace {

// Long enough for a USB serial port that is busy for a moment, short
// against the command's own one-second wait for the restart.
constexpr int kSerialWriteTimeoutMs = 1000;

}  // namespace

bool WriteSerialByte(const std::string& portName, std::uint8_t byte, std::string& failure,
                     const std::string& atUsbPort) {
    if (atUsbPort.empty()) {
        return WriteByteToPort(portName, byte, kSerialWriteTimeoutMs, &failure);
    }
    // The port that was opened, checked while it is held: a node's name
    // passes to another device as devices come and go. Linux follows the
    // open terminal's device number; Windows the port of that name, which
    // cannot pass to another device while it is open.
    return WriteByteToPort(portName, byte, kSerialWriteTimeoutMs, &failure, [&](auto opened) {
#ifdef _WIN32
        (void)opened;
        const std::string port = UsbPortOfComPort(portName);
#else
        const std::string port = UsbPortOfOpenTerminal(opened);
#endif
        return port == atUsbPort ? std::string() : SerialPortNoLongerAt(portName, atUsbPort);
    });
}

}  // namespace platform
