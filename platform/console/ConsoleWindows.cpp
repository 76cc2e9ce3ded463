#include "platform/console/Console.h"

#include "platform/console/TerminalWindows.h"

namespace platform {

namespace {

// Standard error as a console that can draw the progress bar.
VirtualTerminal& Stderr() {
    static VirtualTerminal console(STD_ERROR_HANDLE);
    return console;
}

}  // namespace

bool StderrIsTerminal() { return Stderr().Drawable(); }

int StderrColumns() { return Stderr().Columns(); }

std::uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace platform
