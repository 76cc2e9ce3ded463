// The HID devices present now, with the USB port each sits on, read in one
// pass: the survey of a bench and a worker's look for its unit. Read by the
// platform rather than through hid_enumerate: hidapi 0.13's Linux
// enumeration dereferences a null when a device goes while it is read (the
// uevent of a HID node whose device just left), and on a bench units restart
// all the time. Paths are hidapi's, for hid_open_path, in the form of the
// back end the program links (hidraw: /dev/hidrawN; libusb: bus:address:interface).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct HidNode {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;  // bcdDevice
    std::string serialNumber;   // empty when the device gives none
    std::string product;        // empty when the device gives none
    std::string port;           // UsbPort.h; empty when not on USB or unknown
};

// The HID devices of the vendor (and product, unless 0) in hidapi's
// enumeration order, each node once. With onlyPort, only those at that port,
// reading only the devices under it. Never opens a device; one that goes
// while it is read is left out.
std::vector<HidNode> ListHidDevices(std::uint16_t vendorId, std::uint16_t productId,
                                    const std::string& onlyPort = {});

}  // namespace platform
