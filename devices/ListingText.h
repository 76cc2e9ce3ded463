// The listing as people read it: one line per device.
#pragma once

#include <string>

#include "devices/DeviceSurvey.h"

// bcdDevice as major.minor: 0x0104 is "1.04".
std::string ReleaseText(std::uint16_t release);

// A device's string on one line: control characters become '?'.
std::string OnOneLine(std::string text);

// USB IDs as 4 lower-case hexadecimal digits: "28de".
std::string UsbIdText(std::uint16_t id);

// "controller bootloader      28de:1002  release 1.00  serial QC7F0012
// "Quorl Controller Bootloader"  /dev/hidraw0  port usb-0000:00:14.0-1
// can open", without the serial number, the product string and the USB port
// when there is none.
std::string ListingLine(const ListedDevice& device);

// How whether the user can open a device reads: in a line ("can open",
// "cannot open", "access unknown (not opened)"; a line adds why a device
// refuses the user, "cannot open (permission denied)") and in the JSON
// document ("ok", "denied", "failed", "unknown").
struct AccessWords {
    const char* line;
    const char* json;
};
AccessWords WordsFor(Access access);
