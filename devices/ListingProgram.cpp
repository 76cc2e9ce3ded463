#include "devices/ListingProgram.h"

#include <iostream>
#include <string>

#include "app/AccessHint.h"
#include "app/Usage.h"
#include "devices/DeviceSurvey.h"
#include "devices/DeviceWatch.h"
#include "devices/ListingJson.h"
#include "devices/ListingText.h"

// The project's release, which the build defines.
#ifndef QUORL_VERSION
#define QUORL_VERSION "1.0.0"
#endif

namespace {

constexpr int kListed = 0;
constexpr int kNoneListed = 1;
constexpr int kUsageError = 2;

void PrintUsage(std::ostream& out, const std::string& programPath) {
    out << "usage: " << ProgramName(programPath) << " [--json] [--watch]" << std::endl;
    out << "Lists the connected devices of the Quorl family, one row each under a header:"
        << std::endl;
    out << "what each is and its state, USB IDs, firmware release, serial number, product"
        << std::endl;
    out << "string, the USB port it sits on, the node the firmware tool opens, and whether"
        << std::endl;
    out << "you can open it." << std::endl;
    out << "  --json     the same as one JSON document, for scripts" << std::endl;
    out << "  --watch    stay up: first a line for each device present, then one as each"
        << std::endl;
    out << "             arrives or is removed (\"arrived  PORT  DEVICE  serial SERIAL\"),"
        << std::endl;
    out << "             until Ctrl+C; a unit that restarts into its bootloader shows as"
        << std::endl;
    out << "             removed and arrived. With --json, one JSON object a line." << std::endl;
    out << "  --version  the program's release" << std::endl;
    out << "  --help     this text" << std::endl;
    out << "Exit status: 0 when a device is listed, 1 when none is, 2 on a usage error;"
        << std::endl;
    out << "0 when a watch is stopped." << std::endl;
}

}  // namespace

int RunDeviceListing(int argc, const char* const* argv) {
    const std::string programPath = argc > 0 ? argv[0] : "quorl-devices";
    bool json = false;
    bool watch = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            PrintUsage(std::cout, programPath);
            return 0;
        }
        if (word == "--version") {
            std::cout << "quorl-devices " QUORL_VERSION << std::endl;
            return 0;
        }
        if (word == "--json") {
            json = true;
        } else if (word == "--watch") {
            watch = true;
        } else {
            PrintUsage(std::cerr, programPath);
            return kUsageError;
        }
    }
    if (watch) {
        return WatchDevices(json);
    }

    const std::vector<ListedDevice> devices = SurveyFamilyDevices();
    if (json) {
        std::cout << ListingJson(devices) << std::endl;
    } else if (devices.empty()) {
        std::cout << "No device of the Quorl family is connected." << std::endl;
    } else {
        for (const std::string& line : ListingTable(devices)) {
            std::cout << line << std::endl;
        }
    }
    // After the listing, on standard error, so that the listing stays what scripts read.
    for (const ListedDevice& device : devices) {
        if (device.access == Access::Denied) {
            std::cerr << InaccessibleNodeHint(device.path) << std::endl;
        }
    }
    return devices.empty() ? kNoneListed : kListed;
}
