#include "platform/Platform.h"

#include <windows.h>

#include <string>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {

namespace {

// Windows' timer ticks every 15.6 ms unless a program asks for finer ticks:
// the protocol's 6 ms pauses would last 16 ms, and an update that polls
// thousands of times would take more than twice as long. Windows 10 1803 and
// later time a wait to the millisecond with a high-resolution waitable timer;
// before that, winmm's timeBeginPeriod makes the ticks finer for the
// process. winmm is no Known DLL: it is loaded by its full path in System32,
// never imported, so that a winmm.dll beside the program is never loaded.
HANDLE HighResolutionTimer() {
    thread_local const HANDLE timer = CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    return timer;
}

bool FinerTicksFromSystemWinmm() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    const std::wstring path = std::wstring(system, length) + L"\\winmm.dll";
    const HMODULE winmm = LoadLibraryExW(path.c_str(), nullptr, 0);
    if (winmm == nullptr) {
        return false;
    }
    using TimeBeginPeriod = UINT(WINAPI*)(UINT);
    // Through the generic function type, as GetProcAddress's result must be.
    const auto begin = reinterpret_cast<TimeBeginPeriod>(
        reinterpret_cast<void (*)()>(GetProcAddress(winmm, "timeBeginPeriod")));
    // TIMERR_NOERROR; the request, and winmm, stay until the process ends.
    return begin != nullptr && begin(1) == 0;
}

}  // namespace

void SleepMs(std::uint32_t milliseconds) {
    if (const HANDLE timer = HighResolutionTimer()) {
        // Relative, in units of 100 ns; the timer never fires early, so the
        // pause is whole.
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
        if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    static const bool finerTicks = FinerTicksFromSystemWinmm();
    static_cast<void>(finerTicks);
    // Sleep never wakes early, so the pause is whole.
    ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
