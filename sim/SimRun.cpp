#include "sim/SimRun.h"

#include <cstdlib>
#include <iostream>
#include <string>

#include "sim/Scenario.h"
#include "sim/SimWorld.h"

namespace sim {

int RunOverSimulatedDevices(int argc, const char* const* argv, Program program) {
    const char* devices = std::getenv("QUORL_SIM_DEVICES");
    std::string scenario = devices != nullptr ? devices : "controller";
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
