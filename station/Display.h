// What a station shows while its units run:
// - on a terminal, one live row per unit (port, serial, phase, progress bar,
//   elapsed time), redrawn in place, then a summary table;
// - otherwise each unit's lines, whole, prefixed with its port, in the order
//   they arrive (the command's standard output on standard output, its
//   standard error on standard error), then the summary table;
// - with --json, one JSON object per unit on standard output instead.
// The station's own notices go to standard error.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/UnitRecord.h"
#include "station/UnitRun.h"

class StationDisplay {
public:
    enum class Mode { Terminal, Lines, Json };

    // colours: outcomes in green and red (a terminal, and NO_COLOR unset).
    StationDisplay(Mode mode, std::ostream& out, std::ostream& err, int columns, bool colours);

    void Notice(const std::string& line);
    void Line(const UnitRun& run, const UnitLine& line);
    void Ended(const UnitRun& run, const Record& record);
    // The live rows, at most a few times a second unless forced.
    void Redraw(const std::vector<UnitRun>& runs, bool force = false);
    // The table of every unit, then "N units: S succeeded, F failed" (and
    // ", K not started" when some never started), and a line when a record
    // could not be written.
    void Summary(const std::vector<UnitRun>& runs, bool recordFailed);

private:
    void EraseRows();

    Mode mode;
    std::ostream& out;
    std::ostream& err;
    int columns;
    bool colours;
    int drawnRows = 0;
    std::chrono::steady_clock::time_point lastDraw{};
};

// One live row, cut to the width.
std::string LiveRow(const UnitRun& run, std::size_t portWidth, std::size_t serialWidth, int width,
                    bool colours);

// Whether outcomes are shown in colour in this mode: on a terminal only, and
// never when NO_COLOR is set.
bool ColoursWanted(StationDisplay::Mode mode);
