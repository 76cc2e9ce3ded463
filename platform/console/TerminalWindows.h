// A standard handle as a console that takes escape sequences, for the console
// files of every program (the tool's progress bar on standard error, the
// station's rows on standard output). A console takes them once its
// virtual-terminal processing is on (Windows 10 and later); the console's
// own mode comes back when the program ends, or is interrupted, so the
// prompt is as it was. Windows only; included by the ...Windows.cpp files.
#pragma once

#include <algorithm>

#include <windows.h>

namespace platform {

namespace terminal_detail {

// The console modes to put back when Ctrl+C, Ctrl+Break or closing the
// window ends the program, which then never reaches its own end: standard
// output's and standard error's. Set before the handler is registered; read
// by the handler's thread.
struct ModeToRestore {
    HANDLE handle = nullptr;
    DWORD mode = 0;
};
inline ModeToRestore modesToRestore[2];

inline BOOL WINAPI RestoreModesOnInterrupt(DWORD) {
    for (const ModeToRestore& console : modesToRestore) {
        if (console.handle != nullptr) {
            SetConsoleMode(console.handle, console.mode);
        }
    }
    // Not handled here: the next handler (the system's, which ends the
    // program, or a program's own) decides.
    return FALSE;
}

}  // namespace terminal_detail

class VirtualTerminal {
public:
    explicit VirtualTerminal(DWORD which) : handle(GetStdHandle(which)) {
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
            !GetConsoleMode(handle, &originalMode)) {
            return;
        }
        if ((originalMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
            drawable = true;
            return;
        }
        slot = which == STD_OUTPUT_HANDLE ? 0 : 1;
        terminal_detail::modesToRestore[slot] = {handle, originalMode};
        SetConsoleCtrlHandler(terminal_detail::RestoreModesOnInterrupt, TRUE);
        // An older console refuses the mode: nothing is drawn, lines stay lines.
        drawable = SetConsoleMode(handle, originalMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        changedMode = drawable;
    }
    ~VirtualTerminal() {
        RestoreMode();
        if (slot >= 0) {
            terminal_detail::modesToRestore[slot] = {};
        }
    }
    VirtualTerminal(const VirtualTerminal&) = delete;
    VirtualTerminal& operator=(const VirtualTerminal&) = delete;

    bool Drawable() const { return drawable; }
    HANDLE Handle() const { return handle; }

    // Puts the console's own mode back (also from a Ctrl+C handler).
    void RestoreMode() {
        if (changedMode) {
            SetConsoleMode(handle, originalMode);
            changedMode = false;
        }
    }

    // Columns the user sees (lines wrap at the buffer's width; the window
    // may be narrower); 80 when unknown.
    int Columns() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!drawable || !GetConsoleScreenBufferInfo(handle, &info)) {
            return 80;
        }
        const int visible = info.srWindow.Right - info.srWindow.Left + 1;
        const int columns = std::min<int>(visible, info.dwSize.X);
        return columns > 0 ? columns : 80;
    }

private:
    HANDLE handle;
    DWORD originalMode = 0;
    bool drawable = false;
    bool changedMode = false;
    int slot = -1;
};

}  // namespace platform
