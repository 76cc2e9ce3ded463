// The USB watch on Linux: a udev monitor of the devices the survey reads
// (USB devices, hidraw nodes, terminals), whose events come after udev's
// rules ran, so that a new node has its permissions when the caller looks.
// It reads the events' actions only: nothing is opened or listed here.
#include "platform/usb/UsbWatch.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>

#include "platform/usb/UdevHandles.h"

namespace platform {

namespace {

struct MonitorRelease {
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
using UdevMonitor = std::unique_ptr<udev_monitor, MonitorRelease>;

// Where no event can be had, callers survey this often.
constexpr auto kPollPeriod = std::chrono::milliseconds(500);

// A device that came or went. "bind" and "unbind" follow an "add" and come
// before a "remove" of the same device, and the nodes the survey reads come
// and go with "add" and "remove" of their own; "change" alters nothing the
// survey shows.
bool ArrivalOrRemoval(udev_device* device) {
    const char* action = udev_device_get_action(device);
    return action != nullptr &&
           (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
}

// Milliseconds from now to the deadline for poll: 0 when it is past, -1
// (no limit) for the farthest time point, rounded up so that the wait does
// not end a little before its deadline and spin.
int PollTimeout(UsbWatch::Clock::time_point until) {
    if (until == UsbWatch::Clock::time_point::max()) {
        return -1;
    }
    const auto left = until - UsbWatch::Clock::now();
    if (left <= UsbWatch::Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, 1000 * 60 * 60));
}

class UdevWatch final : public UsbWatch {
public:
    UdevWatch(UdevContext context, UdevMonitor monitor)
        : context(std::move(context)), monitor(std::move(monitor)) {}

    bool WaitForChange(Clock::time_point until) override {
        const int socket = udev_monitor_get_fd(monitor.get());
        for (;;) {
            if (Drain()) {
                return true;
            }
            pollfd ready{socket, POLLIN, 0};
            const int timeout = PollTimeout(until);
            const int count = ::poll(&ready, 1, timeout);
            if (count < 0) {
                // A signal (a stop request): the caller looks at it now.
                return false;
            }
            if (count == 0 && timeout == 0) {
                return false;
            }
        }
    }

private:
    // Takes every event waiting on the non-blocking socket; whether any was
    // an arrival or a removal.
    bool Drain() {
        bool changed = false;
        while (UdevDevice device{udev_monitor_receive_device(monitor.get())}) {
            changed = ArrivalOrRemoval(device.get()) || changed;
        }
        return changed;
    }

    UdevContext context;
    UdevMonitor monitor;
};

// "Changed" every half second: callers survey on a timer.
class TimerWatch final : public UsbWatch {
public:
    bool WaitForChange(Clock::time_point until) override {
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (now >= next) {
                next = now + kPollPeriod;
                return true;
            }
            if (now >= until || ::poll(nullptr, 0, PollTimeout(std::min(next, until))) < 0) {
                return false;
            }
        }
    }

private:
    Clock::time_point next = Clock::now() + kPollPeriod;
};

// A monitor of udev's events, after its rules ran. Where udevd does not run
// (a container), libudev still gives one, which hears nothing: the kernel's
// own events would come before any rule gave a node its permissions. A
// station in a container needs udevd running there to hear units come.
UdevMonitor OpenMonitor(udev* context) {
    UdevMonitor monitor(udev_monitor_new_from_netlink(context, "udev"));
    if (!monitor) {
        return nullptr;
    }
    for (const char* subsystem : {"usb", "hidraw", "tty"}) {
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), subsystem, nullptr) < 0) {
            return nullptr;
        }
    }
    if (udev_monitor_enable_receiving(monitor.get()) < 0) {
        return nullptr;
    }
    // Non-blocking, so that draining stops when nothing is left; closed in
    // the station's worker processes, which never watch.
    const int socket = udev_monitor_get_fd(monitor.get());
    const int statusFlags = ::fcntl(socket, F_GETFL);
    const int descriptorFlags = ::fcntl(socket, F_GETFD);
    if (statusFlags < 0 || descriptorFlags < 0 ||
        ::fcntl(socket, F_SETFL, statusFlags | O_NONBLOCK) < 0 ||
        ::fcntl(socket, F_SETFD, descriptorFlags | FD_CLOEXEC) < 0) {
        return nullptr;
    }
    return monitor;
}

}  // namespace

std::unique_ptr<UsbWatch> UsbWatch::Open() {
    UdevContext context(udev_new());
    UdevMonitor monitor = context ? OpenMonitor(context.get()) : nullptr;
    if (!monitor) {
        return std::make_unique<TimerWatch>();
    }
    return std::make_unique<UdevWatch>(std::move(context), std::move(monitor));
}

}  // namespace platform
