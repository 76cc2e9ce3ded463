// The simulated-device build of quorl-station: the station and each of its
// workers load the same simulated bench (QUORL_SIM_DEVICES), and each worker
// acts on its own unit in its own copy of it. QUORL_SIM_NO_ANSWER_MS shortens
// the time after which a silent worker is ended, so that a rehearsal of a
// device that stops answering does not take a minute.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/SimRun.h"
#include "station/StationProgram.h"

int main(int argc, char** argv) {
    return sim::RunOverSimulatedDevices(argc, argv, [](int count, const char* const* words) {
        StationTiming timing;
        if (const char* limit = std::getenv("QUORL_SIM_NO_ANSWER_MS")) {
            timing.noAnswerLimit = std::chrono::milliseconds(std::atol(limit));
        }
        return RunStation(std::vector<std::string>(words, words + count), timing);
    });
}
