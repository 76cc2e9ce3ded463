// Telling "no such device" from "a device we may not open": on Linux the
// hidraw nodes belong to root until udev rules give the user access; on
// Windows a device that another program holds may refuse a second open.
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

// A present device that would not open, and what the user can do.
struct InaccessibleDevice {
    std::string name;    // such as /dev/hidraw3
    std::string reason;  // such as "permission denied"
    std::string remedy;  // one clause, no full stop
};

// A device node that refuses this user (NodeAccess::Denied), as this
// platform explains it.
InaccessibleDevice DeniedNode(const std::string& node);

// A present HID device with these IDs that refuses to open, or nothing.
std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId);

}  // namespace platform
