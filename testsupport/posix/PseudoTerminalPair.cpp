#include "testsupport/posix/PseudoTerminalPair.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminalPair::PseudoTerminalPair() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
        path = name;
    } else {
        master = slave = -1;
    }
}

PseudoTerminalPair::~PseudoTerminalPair() {
    if (master >= 0) {
        close(master);
        close(slave);
    }
}

std::vector<std::uint8_t> PseudoTerminalPair::Received() {
    std::vector<std::uint8_t> bytes;
    pollfd ready{master, POLLIN, 0};
    std::uint8_t buffer[64];
    while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

bool PseudoTerminalPair::SuspendOutput() { return tcflow(slave, TCOOFF) == 0; }
