// Telling "no such device" from "a device we may not open": on Linux the
// hidraw nodes belong to root until udev rules give the user access.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Whether this user may read and write a device node, judged from its
// permissions alone: nothing is opened (opening a serial port can toggle its
// DTR line, which some devices take as a signal).
enum class NodeAccess {
    Granted,
    Denied,       // the node is there but refuses this user
    Unavailable,  // no such node, or the platform cannot tell without opening it
};
NodeAccess CheckNodeAccess(const std::string& node);

// The device node of a present HID device with these IDs that the user may
// not open (permission denied), or nothing.
std::optional<std::string> FindInaccessibleHidNode(std::uint16_t vendorId, std::uint16_t productId);

}  // namespace platform
