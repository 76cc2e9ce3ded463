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
    // Whether a device at the port whose serial number differs from the
    // unit's is refused as another unit. Off for benches whose units report
    // another serial number in their bootloader.
    bool checkSerialNumber = true;
};

// Set once, at the start of a process that works on one unit.
void LimitDevicesToUnit(UnitLimit limit);
// The limit, or null when there is none (the tool).
const UnitLimit* ActiveUnitLimit();
// Back to no limit and no refusal (between runs in one test process).
void LiftUnitLimit();

// The reason the limit kept a device at the unit's port from being opened,
// as the unit's outcome states it: "serial number S at port P differs from
// the unit's serial number U".
std::optional<std::string> UnitRefusal();

// What the process met at its unit's port, for the unit's record: each
// product ID and serial number once, in the order they showed.
struct UnitSightings {
    std::vector<std::uint16_t> productIds;
    std::vector<std::string> serialNumbers;
};
const UnitSightings& UnitDevicesSeen();

// Under the active limit: opens the first device of these IDs at the unit's
// port, or nothing. What was opened is checked after the open: a node that
// another device took between the listing and the open (hidraw numbers are
// reused) is closed again and counts as absent.
hid_device* OpenAtUnitPort(unsigned short vendorId, unsigned short productId);
