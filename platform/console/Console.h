// platform/console: the console and terminal, the progress display, the command line, and the station's console events.
// What the progress display needs to know about the console and the clock.
#pragma once

#include <cstdint>

namespace platform {

// Whether standard error is a terminal that can draw the progress bar (the
// only place progress is drawn): on Windows, a console that takes escape
// sequences.
bool StderrIsTerminal();

// Columns of the terminal on standard error; 80 when unknown.
int StderrColumns();

// A monotonic clock in milliseconds.
std::uint64_t MonotonicMs();

}  // namespace platform
