// What a station's display needs of the console it writes to: whether
// standard output is a terminal it may redraw in place, and how wide it is.
#pragma once

namespace platform {

// A terminal (on Windows, a console that takes escape sequences).
bool StdoutIsTerminal();

// Columns of that terminal; 80 when unknown.
int StdoutColumns();

}  // namespace platform
