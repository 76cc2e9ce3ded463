// The units on a station's bench: one unit per USB port, whatever firmware
// it runs now, and which of them a command serves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "devices/DeviceSurvey.h"
#include "station/StationOptions.h"

struct BenchUnit {
    std::string port;
    std::vector<ListedDevice> devices;  // what shows at the port now
    std::string serialNumber;           // the first one a device gives; empty when none does
    std::string Description() const;   // "controller application, serial 1A2B"
};

// The devices of the survey grouped by port, in the survey's order; devices
// whose port the system cannot tell are left out (they cannot be followed).
std::vector<BenchUnit> UnitsOnBench(const std::vector<ListedDevice>& survey);

// Why the station will not run these words at all, or nothing when it will:
// a command that needs no device, or one that drives two devices at once.
std::optional<std::string> StationRefusal(const Invocation& invocation);

// Whether the command serves the device in the state it is in now.
bool Serves(const Invocation& invocation, const ListedDevice& device);
// Whether it serves any of the unit's devices.
bool AnyServed(const Invocation& invocation, const BenchUnit& unit);

// The units the options select, or why none run: the exit status (1: nothing
// to run on; 2: a selection that names no unit or more than one could mean)
// and the lines to print on standard error.
struct Selection {
    std::vector<BenchUnit> units;
    std::vector<std::string> leftOut;  // "--all": the ports left out, and why
    int status = 0;
    std::vector<std::string> problem;
};
Selection SelectUnits(const StationOptions& options, const Invocation& invocation,
                      const std::vector<BenchUnit>& bench);

// The order in which units are shown: by port, numbers as numbers
// ("...-1.2" before "...-1.10").
bool PortOrder(const std::string& a, const std::string& b);
