// What playing a shift needs of the process it runs in, where systems
// differ: ShiftProcessPosix.cpp or ShiftProcessWindows.cpp, as CMake picks.
#pragma once

#include <string>

#include "sim/Shift.h"

namespace sim {

// Waits on the monotonic clock until the time point (the farthest one: for
// ever); false when a signal ended the wait early, so that the program
// sees a stop request at once.
bool WaitUntil(ShiftClock::time_point until);

// Asks this program to stop, as Ctrl+C at its console would: the handlers
// it gave platform::OnStopRequest run, and without any it ends.
void AskToStop();

// Sets a variable of this process's environment, which the workers it
// starts from now on inherit.
void SetEnvironmentVariable(const std::string& name, const std::string& value);

}  // namespace sim
