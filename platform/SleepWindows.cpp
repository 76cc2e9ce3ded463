#include "platform/Platform.h"

#include <windows.h>
#include <timeapi.h>

namespace platform {

void SleepMs(std::uint32_t milliseconds) {
    // Windows' timer ticks every 15.6 ms unless a program asks for finer
    // ticks: the protocol's 6 ms pauses would last 16 ms, and an update that
    // polls thousands of times would take more than twice as long. The
    // request ends with the process.
    static const bool fineTicks = timeBeginPeriod(1) == TIMERR_NOERROR;
    static_cast<void>(fineTicks);
    // Sleep never wakes early, so the pause is whole.
    ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
