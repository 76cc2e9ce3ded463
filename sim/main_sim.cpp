// The simulated-device build of the tool: the product's commands over
// simulated devices on a virtual clock, to rehearse every flow without
// hardware (QUORL_SIM_DEVICES and the other settings: SimRun.h).
#include "app/BuiltEdition.h"
#include "app/Dispatcher.h"
#include "sim/SimRun.h"

int main(int argc, char** argv) {
    return sim::RunOverSimulatedDevices(argc, argv, [](int count, const char* const* words) {
        return RunApp(count, words, kBuiltEdition);
    });
}
