#include "platform/console/Console.h"

#include <chrono>

#include "platform/console/TerminalPosix.h"

namespace platform {

bool StderrIsTerminal() { return IsTerminal(STDERR_FILENO); }

int StderrColumns() { return TerminalColumns(STDERR_FILENO); }

std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace platform
