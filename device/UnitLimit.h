// The limit of a process that works on one unit of several on a bench: every
// device it opens or searches for is the one at its unit's USB port, so that
// a unit of the same product at another port is never opened, reset or
// written. The tool itself sets no limit and opens the first device found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <hidapi/hidapi.h>

struct UnitLimit {
    std::string port;          // as platform/usb/UsbPort.h names it
    std::string serialNumber;  // empty: unknown
    // Every port where a device of the family was present when the work on
    // the bench started: a device that turns up at one of these is another unit.
    std::vector<std::string> portsAtStart;
};

// Set once, at the start of a process that works on one unit.
void LimitDevicesToUnit(UnitLimit limit);
// The limit, or null when there is none (the tool).
const UnitLimit* ActiveUnitLimit();
// Back to no limit and no refusal (between runs in one test process).
void LiftUnitLimit();

// The first reason the limit kept a device from being opened, as the unit's
// outcome states it: "serial number S at port P differs from the unit's
// serial number U", or "came back at another port: P". A device at another
// port seen while the unit restarts is withdrawn as a reason once the unit
// opens at its own port, and gives way to a serial number that differs.
std::optional<std::string> UnitRefusal();

// What the process met at its unit's port, for the unit's record: each
// product ID and serial number once, in the order they showed.
struct UnitSightings {
    std::vector<std::uint16_t> productIds;
    std::vector<std::string> serialNumbers;
};
const UnitSightings& UnitDevicesSeen();

// Under the active limit: opens the first device of these IDs at the unit's
// port, or nothing, recording why when the limit itself refused a device.
hid_device* OpenAtUnitPort(unsigned short vendorId, unsigned short productId);
