#include "sim/TivaneModel.h"

namespace sim {

namespace {

SimUsbEntry SerialEntry(std::string portName) {
    SimUsbEntry entry;
    entry.vendorId = kTivaneSerialVendor;
    entry.productId = kTivaneSerialProduct;
    entry.product = "Tivane";
    entry.serialNumber = "TV1C0093";
    entry.serialPort = portName.empty() ? World::Get().NextSerialPort() : std::move(portName);
    return entry;
}

}  // namespace

TivaneModel::TivaneModel(Mode mode, std::string portName)
    : ControllerModel(Mode::Bootloader,
                      {kTivaneBootloader, kTivaneBootloader, "tivane", false, false}),
      serial(World::Get().AddUsbEntry(SerialEntry(std::move(portName)))) {
    serial.onSerialByte = [this](std::uint8_t byte) { OnSerialByte(byte); };
    serial.owner = this;
    bootloaderDescriptor = {L"TV1C0093", 0x0100, L"Quorl", L"Tivane Bootloader"};
    if (mode == Mode::Application) {
        // The application is no HID device: only its serial port is there.
        this->mode = Mode::Application;
        Unplug();
    } else {
        serial.listed = false;
    }
}

void TivaneModel::OnSerialByte(std::uint8_t byte) {
    if (byte != kTivaneRestartByte || mode != Mode::Application) {
        return;
    }
    ++restartBytesTaken;
    mode = Mode::Bootloader;
    ack.Disarm();
    serial.listed = false;
    ReenumerateAt(World::Get().NowMs() + restartDelayMs, kTivaneBootloader);
}

bool TivaneModel::OnBootloaderCommand(std::uint8_t code, const Bytes& payload) {
    if (code != kRestart || !payload.empty()) {
        return ControllerModel::OnBootloaderCommand(code, payload);
    }
    // The reset starts the application, which comes back as the serial port.
    ++resetsFromBootloader;
    mode = Mode::Application;
    Unplug();
    TakeRestartPort();
    serialBackAt = World::Get().NowMs() + rebootDelayMs;
    return true;
}

void TivaneModel::OnTime(std::uint64_t nowMs) {
    if (serialBackAt && nowMs >= *serialBackAt) {
        serial.listed = true;
        serialBackAt.reset();
    }
}

}  // namespace sim
