#include "platform/Console.h"

#include <algorithm>

#include <windows.h>

namespace platform {

namespace {

// The console mode to put back when Ctrl+C, Ctrl+Break or closing the
// window ends the program, which then never reaches its own end. Set before
// the handler is registered; read by the handler's thread.
HANDLE interruptedConsole = nullptr;
DWORD interruptedConsoleMode = 0;

BOOL WINAPI RestoreModeOnInterrupt(DWORD) {
    SetConsoleMode(interruptedConsole, interruptedConsoleMode);
    // Not handled here: the system's handler ends the program as before.
    return FALSE;
}

// Standard error as a console that can draw the progress bar: the bar moves
// the cursor with escape sequences, which a Windows console takes once its
// virtual-terminal processing is on (Windows 10 and later). The console's
// own mode comes back when the program ends, or is interrupted, so the
// prompt is as it was.
class StderrConsole {
public:
    StderrConsole() : handle(GetStdHandle(STD_ERROR_HANDLE)) {
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
            !GetConsoleMode(handle, &originalMode)) {
            return;
        }
        if ((originalMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
            drawable = true;
            return;
        }
        interruptedConsole = handle;
        interruptedConsoleMode = originalMode;
        SetConsoleCtrlHandler(RestoreModeOnInterrupt, TRUE);
        // An older console refuses the mode: no bar, the lines stay as they are.
        drawable = SetConsoleMode(handle, originalMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        changedMode = drawable;
    }
    ~StderrConsole() {
        if (changedMode) {
            SetConsoleMode(handle, originalMode);
        }
        SetConsoleCtrlHandler(RestoreModeOnInterrupt, FALSE);
    }
    StderrConsole(const StderrConsole&) = delete;
    StderrConsole& operator=(const StderrConsole&) = delete;

    bool Drawable() const { return drawable; }
    HANDLE Handle() const { return handle; }

private:
    HANDLE handle;
    DWORD originalMode = 0;
    bool drawable = false;
    bool changedMode = false;
};

StderrConsole& Stderr() {
    static StderrConsole console;
    return console;
}

}  // namespace

bool StderrIsTerminal() { return Stderr().Drawable(); }

int StderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!Stderr().Drawable() || !GetConsoleScreenBufferInfo(Stderr().Handle(), &info)) {
        return 80;
    }
    // Lines wrap at the buffer's width; the part the user sees may be narrower.
    const int visible = info.srWindow.Right - info.srWindow.Left + 1;
    const int columns = std::min<int>(visible, info.dwSize.X);
    return columns > 0 ? columns : 80;
}

std::uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace platform
