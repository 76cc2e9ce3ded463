// platform/access: whether this user may open a device, and what to tell a user who may not.
// Telling "no such device" from "a device we may not open": on Linux the
// hidraw nodes belong to root until udev rules give the user access; on
// Windows a device that another program holds may refuse a second open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Whether this user may read and write a device.
enum class NodeAccess {
    Granted,
    Denied,       // the device is there but refuses this user
    Unavailable,  // no such device node or path
    Unknown,      // the system cannot tell without opening it
};

// A HID device by hidapi's path: on Linux its node's permissions for the
// effective user, groups and capabilities (a setgid or setuid install); on Windows
// it is opened for reading and writing and closed again (opening a HID
// device sends nothing to it), since no permissions say more there.
NodeAccess CheckHidAccess(const std::string& path);

// Whether the HID device of hidapi's path is present now, by one look at
// that device: on Linux its hidraw node, on Windows its interface path
// opened without access rights (as hidapi's listing opens each device).
// Nothing when this platform cannot tell for such a path (hidapi's libusb
// back end names a device by bus and port, not by a node).
std::optional<bool> HidDevicePresent(const std::string& path);

// A serial port, judged without opening it: opening a serial port can toggle
// its DTR line, which some devices take as a signal. Linux reads the node's
// permissions; Windows has nothing to read, so its answer is Unknown.
NodeAccess CheckSerialPortAccess(const std::string& port);

// A present device that would not open, and what the user can do.
struct InaccessibleDevice {
    std::string name;    // such as /dev/hidraw3
    std::string reason;  // such as "permission denied"
    std::string remedy;  // one clause, no full stop
};

// A device node or path that refuses this user (NodeAccess::Denied), as this
// platform explains it.
InaccessibleDevice DeniedNode(const std::string& node);

// A present HID device with these IDs that refuses to open, or nothing.
std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId);

}  // namespace platform
