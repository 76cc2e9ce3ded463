// Tells when a USB device comes or goes, without opening or listing any:
// the caller surveys when it says so. Linux: a udev monitor (events after
// udev's rules ran, so the new node's permissions are in place); Windows:
// device-interface notifications, or a light poll where the system offers
// none. The simulator's watch plays a scripted shift (QUORL_SIM_SHIFT,
// sim/SimRun.h) and sees the simulated bus change.
#pragma once

#include <chrono>
#include <memory>

namespace platform {

class UsbWatch {
public:
    using Clock = std::chrono::steady_clock;

    // Never null: where no notification can be had, the watch says
    // "changed" every half second, so that callers survey on a timer.
    static std::unique_ptr<UsbWatch> Open();
    virtual ~UsbWatch() = default;

    // Waits until a USB device was added or removed since the last call, or
    // until the deadline (on the monotonic clock); true when something
    // changed. A deadline already past makes it a look that never blocks.
    // It may end early, with false, when a signal arrives (Ctrl+C on Linux),
    // so that the caller sees a stop request at once. Only one thread calls it.
    virtual bool WaitForChange(Clock::time_point until) = 0;
};

}  // namespace platform
