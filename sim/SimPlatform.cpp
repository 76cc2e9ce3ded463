// The platform services over the simulator: sleeping moves virtual time; the
// USB listing shows the listing-only devices (serial ports) and the HID
// devices that are enumerated now; a serial byte reaches the listed device
// that owns the port, unless the port refuses the user.
#include "platform/Platform.h"
#include "platform/usb/UsbListingText.h"
#include "platform/usb/UsbPort.h"
#include "sim/HostConventions.h"
#include "sim/SimWorld.h"

namespace platform {

void SleepMs(std::uint32_t milliseconds) { sim::World::Get().Sleep(milliseconds); }

namespace {

UsbDevice Listed(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t revision,
                 const std::string& product, const std::string& serialNumber,
                 const std::string& serialPort, std::size_t usbPort) {
    UsbDevice device;
    device.hardwareIds = UsbHardwareIds(vendorId, productId, revision);
    device.displayName = UsbDisplayName(product, serialPort);
    // Windows names the port in the display name only.
    device.serialPort = sim::Host().listsSerialNode ? serialPort : std::string();
    device.vendorId = vendorId;
    device.productId = productId;
    device.revision = revision;
    device.serialNumber = serialNumber;
    device.product = product;
    device.port = sim::World::UsbPortName(usbPort);
    return device;
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices() {
    sim::World& world = sim::World::Get();
    std::vector<UsbDevice> listing;
    for (const auto& entry : world.usbEntries) {
        if (entry->listed) {
            listing.push_back(Listed(entry->vendorId, entry->productId, entry->revision,
                                     entry->product, entry->serialNumber, entry->serialPort,
                                     entry->UsbPort()));
        }
    }
    // HID devices are USB devices too; none of them has a serial port.
    for (const auto& device : world.devices) {
        if (world.Enumerates(*device)) {
            listing.push_back(Listed(device->vendorId, device->productId,
                                     device->Descriptor().releaseNumber, device->name,
                                     {}, {}, device->usbPort));
        }
    }
    return listing;
}

std::string UsbPortOfHidDevice(const std::string& hidPath) {
    std::size_t collection = 0;
    const sim::SimDevice* device = sim::World::Get().FindByPath(hidPath, collection);
    return device != nullptr ? sim::World::UsbPortName(device->usbPort) : std::string();
}

bool WriteSerialByte(const std::string& portName, std::uint8_t byte, std::string& failure) {
    sim::World& world = sim::World::Get();
    sim::SimUsbEntry* port = world.FindSerialPort(portName);
    const bool refused = port != nullptr && port->owner != nullptr && port->owner->accessDenied;
    const bool delivered = port != nullptr && !refused;
    world.serialWrites.push_back({world.NowMs(), portName, byte, delivered});
    if (!delivered) {
        failure = refused ? sim::Host().refusingSerialPort(portName)
                          : sim::Host().missingSerialPort(portName);
        return false;
    }
    if (port->onSerialByte) {
        port->onSerialByte(byte);
    }
    return true;
}

}  // namespace platform
