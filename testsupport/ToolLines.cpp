#include "testsupport/ToolLines.h"

#include <cstdio>

#include "sim/HostConventions.h"

std::string UnableToOpen(const std::string& path) { return "Unable to open: " + path; }

namespace {

constexpr char kWindowsRemedy[] =
    "close any other program that uses it, replug it and run the command again.";

bool OnWindows() { return sim::Host().system == sim::System::Windows; }

}  // namespace

std::string AccessHintLine(const std::string& node) {
    if (OnWindows()) {
        return "Hint: " + node + " is present but cannot be opened (access denied); " +
               kWindowsRemedy;
    }
    return "Hint: " + node +
           " is present but cannot be opened (permission denied); install "
           "60-quorl-firmware.rules into /etc/udev/rules.d, run \"udevadm control --reload\" and "
           "replug the device.";
}

std::string DeviceAccessHintLine(const sim::SimDevice& device) {
    if (!OnWindows()) {
        return AccessHintLine(device.Path());
    }
    char name[40];
    std::snprintf(name, sizeof name, "USB device VID_%04X&PID_%04X",
                  static_cast<unsigned>(device.vendorId), static_cast<unsigned>(device.productId));
    return "Hint: " + std::string(name) + " is present but cannot be opened (in use by another "
           "program); " + kWindowsRemedy;
}

std::string ChecksumLine(const Checksum128& checksum) {
    return "Image checksum: " + HexDigits(checksum);
}

Transcript UpdateEngineLines(const Checksum128& checksum) {
    return {ChecksumLine(checksum), kStartingUpdate, kTransferring, kVerifying};
}

std::string RadioCrcLine(const Checksum128& checksum) {
    return "#define RADIO_CRC " + HexDigits(checksum, ", ", "0x");
}

Transcript UsageLines(const std::string& programName, Edition edition) {
    const std::string usage = "usage: " + programName;
    return {"Fully update radio firmware:",
            edition == Edition::Compact
                ? usage + " -s [softdevice_filename] <application_offset, e.g. \"98304\"> "
                          "<application_filename>"
                : usage + " -s [filename]",
            "",
            "Reboot controller into bootloader:",
            usage + " -b",
            "",
            "Reboot controller in app from bootloader:",
            usage + " -R",
            "",
            "Generate BRM file:",
            usage + " -v <firmware> <firmware_timestamp> [bootloader]"};
}
