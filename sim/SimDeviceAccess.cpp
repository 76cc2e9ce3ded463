// Device access over the simulator: a device plugged in with accessDenied
// stands for a node that exists but belongs to root, its hidraw node and,
// for the Tivane, its serial port alike.
#include "platform/DeviceAccess.h"
#include "platform/LinuxAccessText.h"
#include "sim/SimWorld.h"

namespace platform {

NodeAccess CheckNodeAccess(const std::string& node) {
    const sim::World& world = sim::World::Get();
    for (const auto& device : world.devices) {
        if (device->path == node && world.Enumerates(*device)) {
            return device->accessDenied ? NodeAccess::Denied : NodeAccess::Granted;
        }
    }
    if (const sim::SimUsbEntry* port = sim::World::Get().FindSerialPort(node)) {
        const bool denied = port->owner != nullptr && port->owner->accessDenied;
        return denied ? NodeAccess::Denied : NodeAccess::Granted;
    }
    return NodeAccess::Unavailable;
}

InaccessibleDevice DeniedNode(const std::string& node) { return LinuxDeniedNode(node); }

std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId) {
    for (const auto& device : sim::World::Get().devices) {
        if (device->Present() && device->accessDenied && device->vendorId == vendorId &&
            device->productId == productId) {
            return LinuxDeniedNode(device->path);
        }
    }
    return std::nullopt;
}

}  // namespace platform
