#include "station/Units.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string_view>

#include "device/UsbIds.h"
#include "station/bench/SerialSupply.h"

namespace {

std::string Describe(const ListedDevice& device) {
    return device.what.kind == "unknown" ? std::string("unknown device")
                                         : device.what.kind + " " + device.what.state;
}

std::vector<std::string> ListOf(const std::vector<BenchUnit>& units) {
    std::vector<std::string> lines;
    for (const BenchUnit& unit : units) {
        lines.push_back("  " + unit.port + "  " + unit.Description());
    }
    return lines;
}

Selection Problem(int status, std::string line, const std::vector<BenchUnit>& units) {
    Selection selection;
    selection.status = status;
    selection.problem.push_back(std::move(line));
    if (!units.empty()) {
        const std::vector<std::string> list = ListOf(units);
        selection.problem.insert(selection.problem.end(), list.begin(), list.end());
    }
    return selection;
}

// A unit named twice (by two words, or a port and its serial) runs once.
void SelectOnce(Selection& selection, const BenchUnit& unit) {
    if (std::none_of(selection.units.begin(), selection.units.end(),
                     [&](const BenchUnit& u) { return u.port == unit.port; })) {
        selection.units.push_back(unit);
    }
}

bool HasDevice(const BenchUnit& unit, std::uint16_t productId) {
    return std::any_of(unit.devices.begin(), unit.devices.end(), [&](const ListedDevice& device) {
        return device.vendorId == kQuorlVendorId && device.productId == productId;
    });
}

// A radio image sent through a dongle reaches whichever controller is paired
// with it, which may be a cabled unit of the same run: two writers on one
// radio. Such a run is refused.
std::optional<std::string> RadioClash(const Invocation& invocation,
                                      const std::vector<BenchUnit>& units) {
    if (invocation.kind != CommandKind::RadioUpdate) {
        return std::nullopt;
    }
    const auto any = [&](auto test) { return std::any_of(units.begin(), units.end(), test); };
    const bool dongles = any([](const BenchUnit& u) { return HasDevice(u, kDongleAppProductId); });
    const bool controllers = any([](const BenchUnit& u) {
        return HasDevice(u, kControllerAppProductId) || HasDevice(u, kControllerBootloaderProductId);
    });
    if (!dongles || !controllers) {
        return std::nullopt;
    }
    return "quorl-station: a radio image through a dongle reaches the controller paired with it, "
           "which may be a unit of this run too: run the dongles and the controllers apart "
           "(name them with --port or --serial)";
}

// Digits compared as numbers: port 1.2 before 1.10.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (digitA && digitB) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) ++endB;
            const std::string numberA = a.substr(i, endA - i);
            const std::string numberB = b.substr(j, endB - j);
            const std::size_t leadA = std::min(numberA.find_first_not_of('0'), numberA.size());
            const std::size_t leadB = std::min(numberB.find_first_not_of('0'), numberB.size());
            const std::string_view valueA = std::string_view(numberA).substr(leadA);
            const std::string_view valueB = std::string_view(numberB).substr(leadB);
            if (valueA.size() != valueB.size()) {
                return valueA.size() < valueB.size();
            }
            if (valueA != valueB) {
                return valueA < valueB;
            }
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

bool PortOrder(const std::string& a, const std::string& b) { return NaturalLess(a, b); }

bool AnyServed(const Invocation& invocation, const BenchUnit& unit) {
    return std::any_of(unit.devices.begin(), unit.devices.end(),
                       [&](const ListedDevice& device) { return Serves(invocation, device); });
}

std::string BenchUnit::Description() const {
    std::string text;
    for (const ListedDevice& device : devices) {
        text += (text.empty() ? "" : ", ") + Describe(device);
    }
    if (!serialNumber.empty()) {
        text += ", serial " + serialNumber;
    }
    return text;
}

std::vector<BenchUnit> UnitsOnBench(const std::vector<ListedDevice>& survey) {
    std::vector<BenchUnit> units;
    for (const ListedDevice& device : survey) {
        if (device.port.empty()) {
            continue;
        }
        auto unit = std::find_if(units.begin(), units.end(),
                                 [&](const BenchUnit& u) { return u.port == device.port; });
        if (unit == units.end()) {
            units.push_back({device.port, {}, {}});
            unit = units.end() - 1;
        }
        unit->devices.push_back(device);
        if (unit->serialNumber.empty()) {
            unit->serialNumber = device.serialNumber;
        }
    }
    return units;
}

std::optional<std::string> StationRefusal(const Invocation& invocation) {
    switch (invocation.kind) {
        case CommandKind::Usage:
        case CommandKind::Help:
            return "the words after \"--\" are no command of the tool (QuorlFirmwareUpdateApp -h "
                   "shows its commands)";
        case CommandKind::EmcTest:
            return "-E drives the controller and the dongle at once, so no unit can be run on "
                   "alone: run it with QuorlFirmwareUpdateApp";
        case CommandKind::RadioCrc:
        case CommandKind::Manifest:
            return "-c, -C and -v read files and no device: run them with QuorlFirmwareUpdateApp";
        default:
            return std::nullopt;
    }
}

bool Serves(const Invocation& invocation, const ListedDevice& device) {
    const auto is = [&](std::uint16_t productId) {
        return device.vendorId == kQuorlVendorId && device.productId == productId;
    };
    switch (invocation.kind) {
        case CommandKind::ControllerUpdate:
            return is(kControllerAppProductId) || is(kControllerBootloaderProductId);
        case CommandKind::RebootIntoBootloader:
        case CommandKind::SwdReflash:
            return is(kControllerAppProductId);
        case CommandKind::SetUnitSerial:
        case CommandKind::ResetFromBootloader:
            return is(kControllerBootloaderProductId);
        case CommandKind::RadioUpdate:
            // A dongle in its application is the wireless route to a radio:
            // taken only when the dongle is itself the unit.
            return is(kControllerAppProductId) || is(kControllerBootloaderProductId) ||
                   is(kDongleAppProductId);
        case CommandKind::DongleUpgrade:
            return is(kDongleBootloaderProductId);
        case CommandKind::TivaneUpdate:
            return is(kTivaneBootloaderProductId) ||
                   (device.vendorId == kTivaneSerialVendorId &&
                    device.productId == kTivaneSerialProductId);
        default:
            return false;
    }
}

Selection SelectUnits(const StationOptions& options, const Invocation& invocation,
                      const std::vector<BenchUnit>& bench) {
    std::vector<BenchUnit> served;
    for (const BenchUnit& unit : bench) {
        if (AnyServed(invocation, unit)) {
            served.push_back(unit);
        }
    }
    Selection selection;
    switch (options.selection) {
        case StationOptions::Selection::Default:
            if (served.size() > 1) {
                return Problem(2,
                               "quorl-station: " + std::to_string(served.size()) +
                                   " units could be meant; name them with --port or --serial, or "
                                   "take them all with --all:",
                               served);
            }
            selection.units = served;
            break;
        case StationOptions::Selection::All:
            selection.units = served;
            for (const BenchUnit& unit : bench) {
                if (!AnyServed(invocation, unit)) {
                    selection.leftOut.push_back(unit.port + ": " + unit.Description() +
                                                ", which this command does not serve");
                }
            }
            break;
        case StationOptions::Selection::Ports:
        case StationOptions::Selection::Slots:  // the slots' ports, from the bench map
            for (const std::string& port : options.ports) {
                auto unit = std::find_if(served.begin(), served.end(),
                                         [&](const BenchUnit& u) { return u.port == port; });
                if (unit == served.end()) {
                    return Problem(2,
                                   "quorl-station: no unit that this command serves is at port " +
                                       port + (served.empty() ? "" : "; the units it serves:"),
                                   served);
                }
                SelectOnce(selection, *unit);
            }
            break;
        case StationOptions::Selection::Serials:
            for (const std::string& serial : options.serials) {
                std::vector<BenchUnit> matching;
                for (const BenchUnit& unit : served) {
                    if (std::any_of(unit.devices.begin(), unit.devices.end(),
                                    [&](const ListedDevice& d) { return d.serialNumber == serial; })) {
                        matching.push_back(unit);
                    }
                }
                if (matching.empty()) {
                    return Problem(2,
                                   "quorl-station: no unit that this command serves has serial "
                                   "number " + serial + (served.empty() ? "" : "; the units it serves:"),
                                   served);
                }
                if (matching.size() > 1) {
                    return Problem(2,
                                   "quorl-station: serial number " + serial +
                                       " shows at more than one port:",
                                   matching);
                }
                SelectOnce(selection, matching[0]);
            }
            break;
    }
    if (const std::optional<std::string> clash = RadioClash(invocation, selection.units)) {
        return Problem(2, *clash, {});
    }
    // A serial number belongs to one unit: never the same one into several
    // (with "{serial}", each unit is given its own).
    if (invocation.kind == CommandKind::SetUnitSerial && selection.units.size() > 1 &&
        !NamesSerialPlaceholder(options.words)) {
        return Problem(2,
                       "quorl-station: -S would write one serial number into " +
                           std::to_string(selection.units.size()) +
                           " units; select one of them with --port or --serial:",
                       selection.units);
    }
    if (selection.units.empty()) {
        selection.status = 1;
        selection.problem.push_back("quorl-station: no unit that this command serves is connected");
    }
    return selection;
}
