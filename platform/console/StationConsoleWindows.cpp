#include "platform/console/StationConsole.h"
#include "platform/console/TerminalWindows.h"

namespace platform {

namespace {

VirtualTerminal& Stdout() {
    static VirtualTerminal console(STD_OUTPUT_HANDLE);
    return console;
}

}  // namespace

bool StdoutIsTerminal() { return Stdout().Drawable(); }

int StdoutColumns() { return Stdout().Columns(); }

}  // namespace platform
