#include "sim/SimRun.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "sim/Scenario.h"
#include "sim/Shift.h"
#include "sim/SimWorld.h"

namespace sim {

namespace {

// The paces a shift can be played at, as factors of its own.
constexpr double kSlowestPace = 0.001;
constexpr double kFastestPace = 1e6;

// The pace of the shift: QUORL_SIM_SHIFT_SPEED, a number from 0.001 to
// 1000000; 1 when unset, none when it is no such number.
std::optional<double> ShiftSpeed() {
    const char* text = std::getenv("QUORL_SIM_SHIFT_SPEED");
    if (text == nullptr) {
        return 1.0;
    }
    char* end = nullptr;
    const double speed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(speed >= kSlowestPace) || !(speed <= kFastestPace)) {
        return std::nullopt;
    }
    return speed;
}

}  // namespace

int RunOverSimulatedDevices(int argc, const char* const* argv, Program program) {
    const char* devices = std::getenv("QUORL_SIM_DEVICES");
    const char* shift = std::getenv("QUORL_SIM_SHIFT");
    // A shift brings its own units: the bench starts empty unless named.
    std::string scenario = devices != nullptr ? devices : shift != nullptr ? "" : "controller";
    if (scenario == "none") {
        scenario.clear();
    }
    if (scenario == "help") {
        std::cerr << "QUORL_SIM_DEVICES: comma-separated devices, each name[:key=value...]\n"
                  << ScenarioHelp();
        return 2;
    }
    const char* bounded = std::getenv("QUORL_SIM_BOUNDED");
    World::Get().boundedMemory = bounded != nullptr && std::string(bounded) == "1";
    const char* realTime = std::getenv("QUORL_SIM_REALTIME");
    World::Get().realTime = realTime != nullptr && std::string(realTime) == "1";
    std::string error;
    if (!LoadScenario(scenario, error)) {
        std::cerr << "QUORL_SIM_DEVICES: " << error << " (QUORL_SIM_DEVICES=help lists them)"
                  << std::endl;
        return 2;
    }
    if (shift != nullptr) {
        const std::optional<double> speed = ShiftSpeed();
        if (!speed) {
            std::cerr << "QUORL_SIM_SHIFT_SPEED: \"" << std::getenv("QUORL_SIM_SHIFT_SPEED")
                      << "\" is not a number from 0.001 to 1000000" << std::endl;
            return 2;
        }
        if (!LoadShift(shift, *speed, error)) {
            std::cerr << "QUORL_SIM_SHIFT: " << error << std::endl;
            return 2;
        }
    }
    const int status = program(argc, argv);
    if (std::getenv("QUORL_SIM_SUMMARY") != nullptr) {
        World& world = World::Get();
        std::cerr << "[sim] virtual time " << world.NowMs() << " ms, " << world.PauseCount()
                  << " pauses, " << world.OpenAttempts().size() << " open attempts" << std::endl;
        for (const auto& device : world.devices) {
            std::cerr << "[sim] " << device->name << ": " << device->transfers << " transfers, "
                      << (device->Present() ? "present" : "absent") << std::endl;
        }
    }
    return status;
}

}  // namespace sim
