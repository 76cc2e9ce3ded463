// The HID listing on Linux in the form of either hidapi back end, so that
// both can be tested whichever the program links (HidListing.h).
#pragma once

#include "platform/usb/HidListing.h"

namespace platform {

enum class HidBackEnd {
    // hidraw nodes, as hidapi's hidraw back end lists them: /dev/hidrawN,
    // identified by the uevent of the HID device above each.
    Hidraw,
    // USB interfaces of the HID class, as hidapi's libusb back end lists
    // them: paths "1-1.2:1.0", identified by the USB device's descriptor.
    Libusb,
};

std::vector<HidNode> ListHidNodes(HidBackEnd backEnd, std::uint16_t vendorId,
                                  std::uint16_t productId, const std::string& onlyPort);

}  // namespace platform
