// A pseudo-terminal pair standing in for a USB serial port (POSIX only): the
// tool writes to the terminal's path, the test reads the far end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PseudoTerminalPair {
public:
    PseudoTerminalPair();
    ~PseudoTerminalPair();
    PseudoTerminalPair(const PseudoTerminalPair&) = delete;
    PseudoTerminalPair& operator=(const PseudoTerminalPair&) = delete;

    bool Opened() const { return master >= 0; }
    // The terminal's device path, which the tool opens as a serial port.
    const std::string& Path() const { return path; }
    // Everything the far end has received so far.
    std::vector<std::uint8_t> Received();
    // Suspends output, as flow control does: the port then takes nothing.
    bool SuspendOutput();

private:
    int master = -1;
    int slave = -1;
    std::string path;
};
