// The simulated-device build of quorl-station: the station and each of its
// workers load the same simulated bench (QUORL_SIM_DEVICES), and each worker
// acts on its own unit in its own copy of it. QUORL_SIM_NO_ANSWER_MS shortens
// the time after which a silent worker is ended, so that a rehearsal of a
// device that stops answering does not take a minute. With
// QUORL_SIM_STATION_CPU set, the station says on standard error how much CPU
// it used itself and how much its workers did (bench/station_units.sh).
// A simulated bench is the station's own: its ports are claimed in a folder
// of its own (QUORL_PORT_CLAIMS, unless set), never beside a real bench's,
// and never shared with another rehearsal that happens to name the same ports.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "sim/SimRun.h"
#include "station/StationProgram.h"

namespace {

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// User and system CPU together, and the system's share alone.
std::string Cpu(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return std::to_string(Seconds(usage.ru_utime) + Seconds(usage.ru_stime)) + " s (system " +
           std::to_string(Seconds(usage.ru_stime)) + " s)";
}

}  // namespace

// The folder made for this station's claims, removed with what it holds
// once the station (and so every worker) has ended; empty when the caller
// named one.
std::filesystem::path OwnClaimFolder() {
    if (std::getenv("QUORL_PORT_CLAIMS") != nullptr) {
        return {};
    }
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error) /
                                         ("quorl-sim-claims-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder, error);
    setenv("QUORL_PORT_CLAIMS", folder.c_str(), 1);
    return folder;
}

int main(int argc, char** argv) {
    return sim::RunOverSimulatedDevices(argc, argv, [](int count, const char* const* words) {
        // A worker is started with its station's environment, and so finds
        // its station's folder named.
        const std::filesystem::path claims = OwnClaimFolder();
        StationTiming timing;
        if (const char* limit = std::getenv("QUORL_SIM_NO_ANSWER_MS")) {
            timing.noAnswerLimit = std::chrono::milliseconds(std::atol(limit));
        }
        const int status = RunStation(std::vector<std::string>(words, words + count), timing);
        if (!claims.empty()) {
            std::error_code error;
            std::filesystem::remove_all(claims, error);
        }
        if (std::getenv("QUORL_SIM_STATION_CPU") != nullptr) {
            std::cerr << "[sim] station CPU " << Cpu(RUSAGE_SELF) << ", workers CPU "
                      << Cpu(RUSAGE_CHILDREN) << std::endl;
        }
        return status;
    });
}
