// The simulated-device build of the tool: the product's commands over
// simulated devices on a virtual clock, to rehearse every flow without
// hardware. The devices come from QUORL_SIM_DEVICES (default: a wired
// controller running its application); QUORL_SIM_DEVICES=help lists them.
// QUORL_SIM_SUMMARY=1 adds, on standard error after the run, the virtual time
// and what each device saw. QUORL_SIM_BOUNDED=1 keeps the simulator's memory
// flat however large the image: the devices keep counts instead of every
// report and check an image as it arrives instead of storing it (for
// measuring the tool's own memory).
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/BuiltEdition.h"
#include "app/Dispatcher.h"
#include "sim/Scenario.h"
#include "sim/SimWorld.h"

int main(int argc, char** argv) {
    const char* devices = std::getenv("QUORL_SIM_DEVICES");
    std::string scenario = devices != nullptr ? devices : "controller";
    if (scenario == "none") {
        scenario.clear();
    }
    if (scenario == "help") {
        std::cerr << "QUORL_SIM_DEVICES: comma-separated devices, each name[:key=value...]\n"
                  << sim::ScenarioHelp();
        return 2;
    }
    const char* bounded = std::getenv("QUORL_SIM_BOUNDED");
    sim::World::Get().boundedMemory = bounded != nullptr && std::string(bounded) == "1";
    std::string error;
    if (!sim::LoadScenario(scenario, error)) {
        std::cerr << "QUORL_SIM_DEVICES: " << error << " (QUORL_SIM_DEVICES=help lists them)"
                  << std::endl;
        return 2;
    }
    const int status = RunApp(argc, argv, kBuiltEdition);
    if (std::getenv("QUORL_SIM_SUMMARY") != nullptr) {
        sim::World& world = sim::World::Get();
        std::cerr << "[sim] virtual time " << world.NowMs() << " ms, " << world.PauseCount()
                  << " pauses, " << world.OpenAttempts().size() << " open attempts" << std::endl;
        for (const auto& device : world.devices) {
            std::cerr << "[sim] " << device->name << ": " << device->transfers << " transfers, "
                      << (device->Present() ? "present" : "absent") << std::endl;
        }
    }
    return status;
}
