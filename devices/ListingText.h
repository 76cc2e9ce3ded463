// The listing as people read it: one line per device.
#pragma once

#include <string>
#include <vector>

#include "devices/DeviceSurvey.h"

// What a device is and its state, as the listing's first column says it:
// "controller bootloader"; "unknown" alone.
std::string DeviceWhat(const DeviceKind& what);

// bcdDevice as major.minor: 0x0104 is "1.04".
std::string ReleaseText(std::uint16_t release);

// A device's string on one line: control characters become '?'.
std::string OnOneLine(std::string text);

// USB IDs as 4 lower-case hexadecimal digits: "28de".
std::string UsbIdText(std::uint16_t id);

// The listing as a table: a header row, then a row per device, each column
// as wide as its widest cell and two spaces apart, the last one unpadded:
//   device                 usb ids    release  serial    product                        port                path          access
//   controller bootloader  28de:1002  1.00     QC7F0012  "Quorl Controller Bootloader"  usb-0000:00:14.0-1  /dev/hidraw0  can open
// "-" stands where a device gives no serial number or product string, where
// the system tells no port, and where there is no path.
std::vector<std::string> ListingTable(const std::vector<ListedDevice>& devices);

// How whether the user can open a device reads: in a line ("can open",
// "cannot open", "access unknown (not opened)"; a line adds why a device
// refuses the user, "cannot open (permission denied)") and in the JSON
// document ("ok", "denied", "failed", "unknown").
struct AccessWords {
    const char* line;
    const char* json;
};
AccessWords WordsFor(Access access);
