#include "sim/TivaneModel.h"

#include <cstdlib>

#include "sim/Scenario.h"

namespace sim {

namespace {

SimUsbEntry SerialEntry(std::string portName) {
    SimUsbEntry entry;
    entry.vendorId = kTivaneSerialVendor;
    entry.productId = kTivaneSerialProduct;
    entry.product = "Tivane";
    entry.serialNumber = "TV1C0093";
    entry.serialPort = portName.empty()
                           ? "/dev/ttyACM" + std::to_string(World::Get().usbEntries.size())
                           : std::move(portName);
    return entry;
}

}  // namespace

TivaneModel::TivaneModel(Mode mode, std::string portName)
    : ControllerModel(Mode::Bootloader, kTivaneBootloader, kTivaneBootloader, "tivane"),
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
    if (code != 0x95 || !payload.empty()) {
        return ControllerModel::OnBootloaderCommand(code, payload);
    }
    // The reset starts the application, which comes back as the serial port.
    ++resetsFromBootloader;
    mode = Mode::Application;
    Unplug();
    serialBackAt = World::Get().NowMs() + rebootDelayMs;
    return true;
}

void TivaneModel::OnTime(std::uint64_t nowMs) {
    if (serialBackAt && nowMs >= *serialBackAt) {
        serial.listed = true;
        serialBackAt.reset();
    }
}

namespace {

bool ApplyTivaneSetting(SimDevice& device, const std::string& key, const std::string& value) {
    auto& tivane = static_cast<TivaneModel&>(device);
    if (key == "restart-delay") {
        tivane.restartDelayMs = static_cast<std::uint32_t>(std::atol(value.c_str()));
    } else if (key == "reboot-delay") {
        tivane.rebootDelayMs = static_cast<std::uint32_t>(std::atol(value.c_str()));
    } else if (key == "port") {
        tivane.serial.serialPort = value;
    } else {
        return ApplyControllerSetting(device, key, value);
    }
    return true;
}

const ModelRegistration kTivane(
    "tivane",
    "Tivane running its application, a USB serial port (0x2548/0x1001) that restarts into its HID "
    "bootloader (0x1071) on the byte 0xFE; settings restart-delay=MS (default 600) "
    "reboot-delay=MS port=NAME (default /dev/ttyACMn), and the controller's settings",
    [](World& world) -> SimDevice& { return world.Add<TivaneModel>(); }, ApplyTivaneSetting);

const ModelRegistration kTivaneBootloader(
    "tivane-bootloader", "Tivane already in its HID bootloader (0x1071); settings as tivane",
    [](World& world) -> SimDevice& {
        return world.Add<TivaneModel>(ControllerModel::Mode::Bootloader);
    },
    ApplyTivaneSetting);

}  // namespace

}  // namespace sim
