#include "testsupport/ToolLines.h"

std::string UnableToOpen(const std::string& path) { return "Unable to open: " + path; }

std::string AccessHintLine(const std::string& node) {
    return "Hint: " + node +
           " is present but cannot be opened (permission denied); install "
           "60-quorl-firmware.rules into /etc/udev/rules.d, run \"udevadm control --reload\" and "
           "replug the device.";
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
