// The USB watch over the simulator: it plays the shift (QUORL_SIM_SHIFT,
// Shift.h) on the caller's thread, and says "changed" after any event of it
// and whenever the bus shows other devices than at its last look (a unit
// that restarted into its bootloader, a device a test plugged in).
#include <tuple>
#include <vector>

#include "platform/usb/UsbWatch.h"
#include "sim/Shift.h"
#include "sim/ShiftProcess.h"
#include "sim/SimWorld.h"

namespace sim {

namespace {

// What a survey would tell apart: each device that enumerates, by port,
// node and product, and each listed serial port.
using BusLook = std::vector<std::tuple<HubPort, std::size_t, std::uint16_t, std::string>>;

BusLook LookAtBus() {
    World& world = World::Get();
    BusLook look;
    for (const auto& device : world.devices) {
        if (world.Enumerates(*device)) {
            look.emplace_back(device->usbPort, device->busPlace, device->productId, std::string());
        }
    }
    for (const auto& entry : world.usbEntries) {
        if (entry->listed) {
            look.emplace_back(entry->UsbPort(), 0, entry->productId, entry->serialPort);
        }
    }
    return look;
}

class SimUsbWatch final : public platform::UsbWatch {
public:
    bool WaitForChange(Clock::time_point until) override {
        for (;;) {
            const bool played = PlayShift();
            BusLook now = LookAtBus();
            const bool changed = now != last;
            last = std::move(now);
            if (played || changed) {
                return true;
            }
            const std::optional<Clock::time_point> next = NextShiftEvent();
            if (Clock::now() >= until ||
                !WaitUntil(next && *next < until ? *next : until)) {
                return false;
            }
        }
    }

private:
    BusLook last = LookAtBus();
};

}  // namespace

}  // namespace sim

namespace platform {

std::unique_ptr<UsbWatch> UsbWatch::Open() {
    sim::StartShift();
    return std::make_unique<sim::SimUsbWatch>();
}

}  // namespace platform
