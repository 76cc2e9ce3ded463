#include "platform/usb/DeviceNotificationsWindows.h"

namespace platform {

std::unique_ptr<UsbWatch> UsbWatch::Open() {
    if (auto notified = OpenDeviceNotifications()) {
        return notified;
    }
    return OpenUsbPoll(std::chrono::milliseconds(500));
}

}  // namespace platform
