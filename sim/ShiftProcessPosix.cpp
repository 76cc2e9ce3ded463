#include "sim/ShiftProcess.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include <poll.h>

namespace sim {

bool WaitUntil(ShiftClock::time_point until) {
    // poll, unlike a sleep of the standard library, ends when a signal arrives.
    constexpr std::chrono::milliseconds kLongest(1000 * 60 * 60);
    for (;;) {
        const auto left = until - ShiftClock::now();
        if (left <= ShiftClock::duration::zero()) {
            return true;
        }
        const auto ms = std::min(std::chrono::ceil<std::chrono::milliseconds>(left), kLongest);
        if (::poll(nullptr, 0, static_cast<int>(ms.count())) < 0) {
            return false;
        }
    }
}

void AskToStop() { std::raise(SIGINT); }

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace sim
