#include "platform/Platform.h"
#include "platform/serial/PortWriter.h"

namespace platform {

namespace {

// Long enough for a USB serial port that is busy for a moment, short
// against the command's own one-second wait for the restart.
constexpr int kSerialWriteTimeoutMs = 1000;

}  // namespace

bool WriteSerialByte(const std::string& portName, std::uint8_t byte, std::string& failure) {
    return WriteByteToPort(portName, byte, kSerialWriteTimeoutMs, &failure);
}

}  // namespace platform
