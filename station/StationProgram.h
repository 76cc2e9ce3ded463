// quorl-station: runs one command of the tool on several units at once, each
// unit in a worker process of its own that follows the unit by its USB port,
// and keeps a record of every unit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct StationTiming {
    // A worker that tells nothing for this long (a device that stopped
    // answering in the middle of a transfer) is ended, its unit failed.
    std::chrono::milliseconds noAnswerLimit{60000};
    // Workers never start closer together than this, so that units started
    // together do not restart and enumerate at the same instant.
    std::chrono::milliseconds startStagger{100};
};

// The program, from its words (the program's path first): exit status 0 when
// every selected unit succeeded, 1 when any failed, 2 on a usage error or an
// ambiguous selection.
int RunStation(const std::vector<std::string>& arguments, const StationTiming& timing = {});
