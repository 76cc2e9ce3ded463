#include "devices/ListingProgram.h"

#include <iostream>
#include <string>

#include "app/AccessHint.h"
#include "app/Usage.h"
#include "devices/DeviceSurvey.h"
#include "devices/ListingJson.h"
#include "devices/ListingText.h"

namespace {

constexpr int kListed = 0;
constexpr int kNoneListed = 1;
constexpr int kUsageError = 2;

void PrintUsage(std::ostream& out, const std::string& programPath) {
    out << "usage: " << ProgramName(programPath) << " [--json]" << std::endl;
    out << "Lists the connected devices of the Quorl family, one per line: what each is and"
        << std::endl;
    out << "its state, USB IDs, firmware release, serial number, product string, the node"
        << std::endl;
    out << "the firmware tool opens, and whether you can open it." << std::endl;
    out << "  --json  the same as one JSON document, for scripts" << std::endl;
    out << "  --help  this text" << std::endl;
    out << "Exit status: 0 when a device is listed, 1 when none is, 2 on a usage error."
        << std::endl;
}

}  // namespace

int RunDeviceListing(int argc, const char* const* argv) {
    const std::string programPath = argc > 0 ? argv[0] : "quorl-devices";
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            PrintUsage(std::cout, programPath);
            return 0;
        }
        if (word != "--json") {
            PrintUsage(std::cerr, programPath);
            return kUsageError;
        }
        json = true;
    }

    const std::vector<ListedDevice> devices = SurveyFamilyDevices();
    if (json) {
        std::cout << ListingJson(devices) << std::endl;
    } else if (devices.empty()) {
        std::cout << "No device of the Quorl family is connected." << std::endl;
    } else {
        for (const ListedDevice& device : devices) {
            std::cout << ListingLine(device) << std::endl;
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
