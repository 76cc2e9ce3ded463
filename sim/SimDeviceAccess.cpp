// Device access over the simulator: a device plugged in with accessDenied
// stands for one that refuses the user, its HID device and, for the Tivane,
// its serial port alike: on Linux a node that belongs to root, on Windows a
// device that another program holds. Each system explains it in its own words.
#include "platform/access/DeviceAccess.h"
#include "sim/HostConventions.h"
#include "sim/SimWorld.h"

namespace platform {

NodeAccess CheckHidAccess(const std::string& path) {
    std::size_t collection = 0;
    const sim::SimDevice* device = sim::World::Get().FindByPath(path, collection);
    if (device == nullptr) {
        return NodeAccess::Unavailable;
    }
    return device->accessDenied ? NodeAccess::Denied : NodeAccess::Granted;
}

// One look at the device of that path; counted, so that the cost of a
// device that keeps failing its transfers shows.
std::optional<bool> HidDevicePresent(const std::string& path) {
    sim::World& world = sim::World::Get();
    ++world.presenceChecks;
    std::size_t collection = 0;
    return world.FindByPath(path, collection) != nullptr;
}

NodeAccess CheckSerialPortAccess(const std::string& port) {
    if (!sim::Host().serialAccessVisible) {
        return NodeAccess::Unknown;
    }
    if (const sim::SimUsbEntry* entry = sim::World::Get().FindSerialPort(port)) {
        const bool denied = entry->owner != nullptr && entry->owner->accessDenied;
        return denied ? NodeAccess::Denied : NodeAccess::Granted;
    }
    return NodeAccess::Unavailable;
}

InaccessibleDevice DeniedNode(const std::string& node) { return sim::Host().deniedNode(node); }

std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId) {
    for (const auto& device : sim::World::Get().devices) {
        if (device->Present() && device->accessDenied && device->vendorId == vendorId &&
            device->productId == productId) {
            return sim::Host().refusingHidDevice(vendorId, productId, device->Path());
        }
    }
    return std::nullopt;
}

}  // namespace platform
