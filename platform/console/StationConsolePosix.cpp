#include "platform/console/StationConsole.h"
#include "platform/console/TerminalPosix.h"

namespace platform {

bool StdoutIsTerminal() { return IsTerminal(STDOUT_FILENO); }

int StdoutColumns() { return TerminalColumns(STDOUT_FILENO); }

}  // namespace platform
