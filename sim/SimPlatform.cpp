// The platform services over the simulator: sleeping moves virtual time; the
// USB listing shows the listing-only devices (serial ports) and the HID
// devices that are enumerated now; a serial byte reaches the listed device
// that owns the port.
#include "platform/Platform.h"
#include "platform/UsbListingText.h"
#include "sim/SimWorld.h"

namespace platform {

void SleepMs(std::uint32_t milliseconds) { sim::World::Get().Sleep(milliseconds); }

std::vector<UsbDevice> ListUsbDevices() {
    sim::World& world = sim::World::Get();
    std::vector<UsbDevice> listing;
    for (const auto& entry : world.usbEntries) {
        if (entry->listed) {
            listing.push_back({UsbHardwareIds(entry->vendorId, entry->productId, entry->revision),
                               UsbDisplayName(entry->product, entry->serialPort), entry->serialPort});
        }
    }
    // HID devices are USB devices too; none of them has a serial port.
    for (const auto& device : world.devices) {
        if (device->Present() && world.NowMs() >= device->appearAtMs) {
            listing.push_back(
                {UsbHardwareIds(device->vendorId, device->productId, 0x0100), device->name, {}});
        }
    }
    return listing;
}

bool WriteSerialByte(const std::string& portName, std::uint8_t byte) {
    sim::World& world = sim::World::Get();
    for (const auto& entry : world.usbEntries) {
        if (entry->listed && !entry->serialPort.empty() && entry->serialPort == portName) {
            world.serialWrites.push_back({world.NowMs(), portName, byte, true});
            if (entry->onSerialByte) {
                entry->onSerialByte(byte);
            }
            return true;
        }
    }
    world.serialWrites.push_back({world.NowMs(), portName, byte, false});
    return false;
}

}  // namespace platform
