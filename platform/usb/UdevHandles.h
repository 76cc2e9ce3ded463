// Owning handles for libudev objects, released with their unref functions.
#pragma once

#include <memory>

#include <libudev.h>

namespace platform {

struct UdevRelease {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevContext = std::unique_ptr<udev, UdevRelease>;
using UdevEnumeration = std::unique_ptr<udev_enumerate, UdevRelease>;
using UdevDevice = std::unique_ptr<udev_device, UdevRelease>;

}  // namespace platform
