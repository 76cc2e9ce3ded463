// Which devices of the family are connected now: every HID device of the
// family's vendor in the platform's HID listing, and every Tivane serial port
// in its USB listing. Opens a HID device only to learn whether this user
// may, and sends nothing to any device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/DeviceKind.h"

enum class Access {
    Ok,       // this user can open it
    Denied,   // present, but it refuses this user
    Failed,   // present, but it could not be opened for another reason
    Unknown,  // a serial port whose access shows only by opening it (Windows)
    // Windows: another program holds it, and it opened without access
    // rights; its feature reports still pass, so every command of a device
    // that reads no input reports still works.
    Held,
};

struct ListedDevice {
    DeviceKind what;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;  // bcdDevice
    std::string serialNumber;   // empty when the device gives none
    std::string product;        // empty when the device gives none
    std::string path;           // what the tool opens: HID path or serial port; empty when none
    std::string port;           // the USB port it sits on (platform/usb/UsbPort.h); empty when unknown
    Access access = Access::Failed;
};

// Whether the survey opens each HID device to learn whether this user may.
// A station's survey does not: a unit that another worker drives is never
// opened by anyone else, and its access is left Unknown.
enum class AccessTest { TryOpening, None };

// In hidapi's enumeration order (the first of a product ID is the one the
// tool opens), each HID node once, then the Tivane serial ports. With
// onlyPort, only the devices at that USB port, reading no others.
std::vector<ListedDevice> SurveyFamilyDevices(AccessTest test = AccessTest::TryOpening,
                                              const std::string& onlyPort = {});
