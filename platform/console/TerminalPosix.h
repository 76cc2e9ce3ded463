// A file descriptor as a terminal, for the console files of every program
// (the tool's progress bar on standard error, the station's rows on standard
// output). POSIX only; included by the ...Linux.cpp and ...Posix.cpp files.
#pragma once

#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

inline bool IsTerminal(int fd) { return isatty(fd) == 1; }

// Its columns; 80 when unknown.
inline int TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace platform
