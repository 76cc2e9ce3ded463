// The platform services over the simulator: sleeping moves virtual time; the
// USB listing shows the listing-only devices (serial ports) and the HID
// devices that are enumerated now; the HID listing shows the HID devices as
// hidapi's enumeration does; a serial byte reaches the listed device that
// owns the port, unless the port refuses the user or is no longer at the USB
// port it was asked for.
#include <set>
#include <type_traits>

#include "platform/Platform.h"
#include "platform/serial/SerialPortText.h"
#include "platform/usb/HidListing.h"
#include "platform/usb/UsbListingText.h"
#include "platform/usb/UsbPort.h"
#include "sim/HostConventions.h"
#include "sim/SimWorld.h"

namespace platform {

void SleepMs(std::uint32_t milliseconds) { sim::World::Get().Sleep(milliseconds); }

namespace {

UsbDevice Listed(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t revision,
                 const std::string& product, const std::string& serialNumber,
                 const std::string& serialPort, sim::HubPort usbPort) {
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

// A descriptor string as the listing hands it on: UTF-8, from the wide text
// hidapi gives (UTF-32, or UTF-16 on Windows); a broken surrogate pair or a
// value past U+10FFFF is U+FFFD.
std::string Utf8(const std::wstring& text) {
    std::string utf8;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t code = static_cast<std::make_unsigned_t<wchar_t>>(text[at]);
        const char32_t next =
            at + 1 < text.size() ? static_cast<std::make_unsigned_t<wchar_t>>(text[at + 1]) : 0;
        if (sizeof(wchar_t) == 2 && code >= 0xD800 && code < 0xDC00 && next >= 0xDC00 &&
            next < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            ++at;
        }
        if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            code = 0xFFFD;
        }
        const int continuation = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        constexpr unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        utf8 += static_cast<char>(kLead[continuation] | (code >> (6 * continuation)));
        for (int shift = 6 * (continuation - 1); shift >= 0; shift -= 6) {
            utf8 += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
        }
    }
    return utf8;
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices(const std::string& onlyPort) {
    sim::World& world = sim::World::Get();
    std::vector<UsbDevice> listing;
    const auto add = [&](UsbDevice device) {
        if (onlyPort.empty() || device.port == onlyPort) {
            listing.push_back(std::move(device));
        }
    };
    for (const auto& entry : world.usbEntries) {
        if (entry->listed) {
            add(Listed(entry->vendorId, entry->productId, entry->revision, entry->product,
                       entry->serialNumber, entry->serialPort, entry->UsbPort()));
        }
    }
    // HID devices are USB devices too; none of them has a serial port.
    for (const auto& device : world.devices) {
        if (world.Enumerates(*device)) {
            add(Listed(device->vendorId, device->productId, device->Descriptor().releaseNumber,
                       device->name, {}, {}, device->usbPort));
        }
    }
    return listing;
}

// What hidapi's enumeration gives, in its order, each path once: hidraw
// lists one node once per top-level collection, Windows one path each. A
// device listed without a path has no port either: the port is read from
// the node.
std::vector<HidNode> ListHidDevices(std::uint16_t vendorId, std::uint16_t productId,
                                    const std::string& onlyPort) {
    sim::World& world = sim::World::Get();
    ++world.enumerations;
    std::vector<HidNode> nodes;
    std::set<std::string> seen;
    for (const auto& device : world.devices) {
        if (!world.Enumerates(*device) || (vendorId != 0 && device->vendorId != vendorId) ||
            (productId != 0 && device->productId != productId)) {
            continue;
        }
        const sim::HidDescriptor& descriptor = device->Descriptor();
        for (std::size_t collection = 0; collection < descriptor.usages.size(); ++collection) {
            HidNode node;
            node.path = device->listedWithoutPath ? std::string() : device->Path(collection);
            node.port = node.path.empty() ? std::string() : sim::World::UsbPortName(device->usbPort);
            if (!seen.insert(node.path).second || (!onlyPort.empty() && node.port != onlyPort)) {
                continue;
            }
            node.vendorId = device->vendorId;
            node.productId = device->productId;
            node.release = descriptor.releaseNumber;
            node.serialNumber = Utf8(descriptor.serialNumber);
            node.product = Utf8(descriptor.product);
            nodes.push_back(std::move(node));
        }
    }
    return nodes;
}

std::string UsbPortOfHidDevice(const std::string& hidPath) {
    std::size_t collection = 0;
    const sim::SimDevice* device = sim::World::Get().FindByPath(hidPath, collection);
    return device != nullptr ? sim::World::UsbPortName(device->usbPort) : std::string();
}

// The port is opened before it is checked: a port that refuses the user
// fails as the open does; one that belongs to a device at another USB port
// is closed again with nothing written.
bool WriteSerialByte(const std::string& portName, std::uint8_t byte, std::string& failure,
                     const std::string& atUsbPort) {
    sim::World& world = sim::World::Get();
    sim::SimUsbEntry* port = world.FindSerialPort(portName);
    const bool refused = port != nullptr && port->owner != nullptr && port->owner->accessDenied;
    const bool moved = port != nullptr && !refused && !atUsbPort.empty() &&
                       sim::World::UsbPortName(port->UsbPort()) != atUsbPort;
    const bool delivered = port != nullptr && !refused && !moved;
    world.serialWrites.push_back({world.NowMs(), portName, byte, delivered});
    if (!delivered) {
        failure = refused ? sim::Host().refusingSerialPort(portName)
                  : moved ? SerialPortNoLongerAt(portName, atUsbPort)
                          : sim::Host().missingSerialPort(portName);
        return false;
    }
    if (port->onSerialByte) {
        port->onSerialByte(byte);
    }
    return true;
}

}  // namespace platform
