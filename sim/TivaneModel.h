// The Tivane. Its application is a USB serial port (0x2548/0x1001) that
// hidapi does not see; the byte 0xFE on that port restarts it, and after a
// while its HID bootloader (0x28DE/0x1071) enumerates and speaks the
// controller's bootloader protocol. A reset from the bootloader brings the
// serial port back. It has neither a radio nor an SWD probe.
#pragma once

#include <optional>
#include <string>

#include "sim/ControllerModel.h"

namespace sim {

class TivaneModel : public ControllerModel {
public:
    // portName empty: World::NextSerialPort (/dev/ttyACMn, or COMn on Windows).
    explicit TivaneModel(Mode mode = Mode::Application, std::string portName = {});

    void OnTime(std::uint64_t nowMs) override;

    // The application's face in the USB listing.
    SimUsbEntry& serial;
    // From the restart byte until the bootloader enumerates.
    std::uint32_t restartDelayMs = 600;
    int restartBytesTaken = 0;

protected:
    bool OnBootloaderCommand(std::uint8_t code, const Bytes& payload) override;

private:
    void OnSerialByte(std::uint8_t byte);
    std::optional<std::uint64_t> serialBackAt;
};

}  // namespace sim
