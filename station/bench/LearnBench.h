// Learning a bench map from the units themselves: the operator plugs a unit
// into each slot in turn, and the port where one newly shows is that slot's.
//
//   quorl-station --learn-bench FILE --slots A1 A2 ... [--columns N] [--name TEXT]
//
// Nothing is sent to any device and none is opened: only surveys are read.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "devices/DeviceSurvey.h"

struct LearnBenchRequest {
    std::string path;                 // the bench map to write
    std::vector<std::string> labels;  // the slots, in the order they are learned and shown
    int columns = 0;                  // 0: the grid the labels show (see LearnBench)
    std::string name;                 // empty: the file's stem
};

// What the station gives the learning; tests give their own.
struct LearnBenchSystem {
    // The family's devices now, never opening one (SurveyFamilyDevices(AccessTest::None)).
    std::function<std::vector<ListedDevice>()> survey;
    // platform::UsbWatch::WaitForChange: true when a device came or went
    // before the deadline (on the monotonic clock).
    std::function<bool(std::chrono::steady_clock::time_point)> waitForChange;
    // Ctrl+C, SIGTERM or SIGHUP seen.
    std::function<bool()> stopRequested;
};

// Checks the request (exit status 2 before any survey when it cannot be
// learned), learns each slot in turn, and writes the map once every slot is
// learned, replacing any map already at the path. A stop request leaves no
// file and ends with 1, as an interrupted station run does; 0 when written.
// Columns left at 0 follow the labels' rows: "A1 A2 A3 B1 B2 B3" is 3
// columns (the labels before the first whose letters differ from the first
// label's); labels without a row letter and a number make one row.
int LearnBench(const LearnBenchRequest& request, const LearnBenchSystem& system, std::ostream& out,
               std::ostream& err);
