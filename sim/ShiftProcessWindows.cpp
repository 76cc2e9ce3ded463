// The simulated-device programs are built on Linux only; the suite built for
// Windows compiles the shift, and plays none.
#include "sim/ShiftProcess.h"

#include <csignal>
#include <cstdlib>
#include <thread>

namespace sim {

bool WaitUntil(ShiftClock::time_point until) {
    std::this_thread::sleep_until(until);
    return true;
}

// The C runtime's Ctrl+C: the program ends, as one without a handler does.
void AskToStop() { std::raise(SIGINT); }

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

}  // namespace sim
