// Telling "no such device" from "a device we may not open": on Linux the
// hidraw nodes belong to root until udev rules give the user access.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The device node of a present HID device with these IDs that the user may
// not open (permission denied), or nothing.
std::optional<std::string> FindInaccessibleHidNode(std::uint16_t vendorId, std::uint16_t productId);

}  // namespace platform
