// Device access over the simulator: a device plugged in with accessDenied
// stands for a hidraw node that exists but belongs to root.
#include "platform/DeviceAccess.h"
#include "platform/HidrawAccess.h"
#include "sim/SimWorld.h"

namespace platform {

std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId) {
    const sim::World& world = sim::World::Get();
    for (std::size_t index = 0; index < world.devices.size(); ++index) {
        const sim::SimDevice& device = *world.devices[index];
        if (device.Present() && device.accessDenied && device.vendorId == vendorId &&
            device.productId == productId) {
            return DeniedHidrawNode("/dev/hidraw" + std::to_string(index));
        }
    }
    return std::nullopt;
}

}  // namespace platform
