#include "platform/usb/DeviceNotificationsWindows.h"

#include <windows.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Clock = UsbWatch::Clock;

// The interface classes a unit shows as it comes and goes: the USB device
// itself (GUID_DEVINTERFACE_USB_DEVICE), its HID collections (what
// HidD_GetHidGuid gives, the class hidapi lists), and the serial port of a
// device that has one (GUID_DEVINTERFACE_COMPORT). A HID collection or a
// port arrives a moment after its USB device: a survey at the first
// notification may not see it yet, the second one brings it.
constexpr GUID kUsbDevice = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
constexpr GUID kHidCollection = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID kSerialPort = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

// The wait left until the deadline, in whole milliseconds rounded up, so that
// a wait never ends before it; 0 for a deadline already past.
DWORD MillisecondsUntil(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

// MinGW's std::this_thread::sleep_until on the steady clock sleeps once and
// may wake a little before the time (by 0.65 ms, seen under Wine): again
// until it has come.
void SleepUntil(Clock::time_point until) {
    while (Clock::now() < until) {
        std::this_thread::sleep_until(until);
    }
}

class NotifiedWatch : public UsbWatch {
public:
    NotifiedWatch(HMODULE cfgmgr32, HANDLE changed, UnregisterNotification unregister)
        : cfgmgr32_(cfgmgr32), changed_(changed), unregister_(unregister) {}

    ~NotifiedWatch() override {
        // Returns once no callback runs any more: the event outlives them.
        for (const HCMNOTIFICATION registration : registrations_) {
            unregister_(registration);
        }
        CloseHandle(changed_);
        FreeLibrary(cfgmgr32_);
    }

    bool Register(RegisterNotification registerNotification, const GUID& interfaceClass) {
        CM_NOTIFY_FILTER filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = interfaceClass;
        HCMNOTIFICATION registration = nullptr;
        if (registerNotification(&filter, changed_, &NotifiedWatch::OnNotification, &registration) != CR_SUCCESS ||
            registration == nullptr) {
            return false;
        }
        registrations_.push_back(registration);
        return true;
    }

    bool WaitForChange(Clock::time_point until) override {
        // The event stays set from a change until this call sees it, so a
        // change between two calls is never lost; several count as one.
        while (true) {
            const DWORD waited = WaitForSingleObject(changed_, MillisecondsUntil(until));
            if (waited == WAIT_OBJECT_0) {
                return true;
            }
            if (waited != WAIT_TIMEOUT) {
                // The event is this object's own; should the wait ever fail,
                // say "changed" rather than go blind (the callers survey).
                SleepUntil(std::min(until, Clock::now() + std::chrono::milliseconds(500)));
                return true;
            }
            if (Clock::now() >= until) {
                return false;
            }
            // The system's timer ended the wait a little early: the rest.
        }
    }

private:
    // Runs on a thread of the system's pool: only sets the event.
    static DWORD CALLBACK OnNotification(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action,
                                         PCM_NOTIFY_EVENT_DATA, DWORD) {
        if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
            SetEvent(static_cast<HANDLE>(context));
        }
        return ERROR_SUCCESS;
    }

    HMODULE cfgmgr32_;
    HANDLE changed_;
    UnregisterNotification unregister_;
    std::vector<HCMNOTIFICATION> registrations_;
};

class PollingWatch : public UsbWatch {
public:
    explicit PollingWatch(std::chrono::milliseconds period) : period_(period), next_(Clock::now() + period) {}

    bool WaitForChange(Clock::time_point until) override {
        if (until < next_) {
            SleepUntil(until);
            return false;
        }
        SleepUntil(next_);
        next_ += period_;
        if (next_ <= Clock::now()) {
            // A caller that came late gets one tick, not every one it missed.
            next_ = Clock::now() + period_;
        }
        return true;
    }

private:
    const std::chrono::milliseconds period_;
    Clock::time_point next_;
};

}  // namespace

std::unique_ptr<UsbWatch> OpenDeviceNotifications() {
    // cfgmgr32 is no Known DLL: from System32 by name, never from beside the
    // program (as SystemDllsOnlyWindows.cpp makes the default too).
    const HMODULE cfgmgr32 = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (cfgmgr32 == nullptr) {
        return nullptr;
    }
    // Through the generic function type, as GetProcAddress's result must be.
    const auto registerNotification = reinterpret_cast<RegisterNotification>(
        reinterpret_cast<void (*)()>(GetProcAddress(cfgmgr32, "CM_Register_Notification")));
    const auto unregisterNotification = reinterpret_cast<UnregisterNotification>(
        reinterpret_cast<void (*)()>(GetProcAddress(cfgmgr32, "CM_Unregister_Notification")));
    const HANDLE changed = registerNotification != nullptr && unregisterNotification != nullptr
                               ? CreateEventW(nullptr, FALSE, FALSE, nullptr)
                               : nullptr;
    if (changed == nullptr) {
        FreeLibrary(cfgmgr32);
        return nullptr;
    }
    auto watch = std::make_unique<NotifiedWatch>(cfgmgr32, changed, unregisterNotification);
    for (const GUID& interfaceClass : {kUsbDevice, kHidCollection, kSerialPort}) {
        if (!watch->Register(registerNotification, interfaceClass)) {
            return nullptr;  // half a watch would miss units: poll instead
        }
    }
    return watch;
}

std::unique_ptr<UsbWatch> OpenUsbPoll(std::chrono::milliseconds period) {
    return std::make_unique<PollingWatch>(period);
}

}  // namespace platform
