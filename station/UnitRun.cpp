#include "station/UnitRun.h"

double UnitRun::ElapsedSeconds() const {
    if (state == State::Waiting) {
        return 0.0;
    }
    const auto end = state == State::Ended ? endedClock : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - startedClock).count();
}
