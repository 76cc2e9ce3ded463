#include "platform/StationConsole.h"

#include <algorithm>

#include <windows.h>

namespace platform {

namespace {

// Standard output as a console that takes the escape sequences that redraw
// the rows in place; its own mode comes back when the program ends.
class StdoutConsole {
public:
    StdoutConsole() : handle(GetStdHandle(STD_OUTPUT_HANDLE)) {
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
            !GetConsoleMode(handle, &originalMode)) {
            return;
        }
        drawable = (originalMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                   SetConsoleMode(handle, originalMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        changedMode = drawable && (originalMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0;
    }
    ~StdoutConsole() {
        if (changedMode) {
            SetConsoleMode(handle, originalMode);
        }
    }
    StdoutConsole(const StdoutConsole&) = delete;
    StdoutConsole& operator=(const StdoutConsole&) = delete;

    HANDLE handle;
    DWORD originalMode = 0;
    bool drawable = false;
    bool changedMode = false;
};

StdoutConsole& Stdout() {
    static StdoutConsole console;
    return console;
}

}  // namespace

bool StdoutIsTerminal() { return Stdout().drawable; }

int StdoutColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!Stdout().drawable || !GetConsoleScreenBufferInfo(Stdout().handle, &info)) {
        return 80;
    }
    const int columns = std::min<int>(info.srWindow.Right - info.srWindow.Left + 1, info.dwSize.X);
    return columns > 0 ? columns : 80;
}

}  // namespace platform
