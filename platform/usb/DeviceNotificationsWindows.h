// The two ways Windows can tell platform::UsbWatch that USB devices came or
// went; UsbWatch::Open (UsbWatchWindows.cpp) takes the first, or the second
// where the first is not offered. Named apart from UsbWatch::Open so that the
// tests reach both while the simulator serves UsbWatch::Open.
#pragma once

#include <chrono>
#include <memory>

#include "platform/usb/UsbWatch.h"

namespace platform {

// Device-interface notifications from the configuration manager (Windows 8
// and later: cfgmgr32's CM_Register_Notification) for USB devices, HID
// collections and serial ports, arrivals and removals alike. Null when they
// cannot be had.
std::unique_ptr<UsbWatch> OpenDeviceNotifications();

// Says "changed" once a period, from the moment it is opened: the callers
// survey on that timer.
std::unique_ptr<UsbWatch> OpenUsbPoll(std::chrono::milliseconds period);

}  // namespace platform
