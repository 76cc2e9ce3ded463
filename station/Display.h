// What a station shows while its units run:
// - on a terminal, one live row per unit (port, serial, phase, progress bar,
//   elapsed time), redrawn in place, then a summary table;
// - otherwise each unit's lines, whole, prefixed with its port, in the order
//   they arrive (the command's standard output on standard output, its
//   standard error on standard error), then the summary table;
// - with --json, one JSON object per unit on standard output instead;
// - with --events, nothing of its own on standard output: the station's
//   events are all there is.
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
    enum class Mode { Terminal, Lines, Json, Events };

    // colours: outcomes in green and red (a terminal, and NO_COLOR unset).
    StationDisplay(Mode mode, std::ostream& out, std::ostream& err, int columns, bool colours);

    void Notice(const std::string& line);
    void Line(const UnitRun& run, const UnitLine& line);
    // What becomes of a bench's slot, as a line behind its name ("A1:
    // arrived: ...", "A1: removed"), in the lines mode only.
    void SlotLine(const std::string& name, const std::string& text);
    void Ended(const UnitRun& run, const Record& record);
    // The live rows (one a unit, or one a slot of a bench), and a footer
    // line under them (the bench's counters), at most a few times a second
    // unless forced.
    void Redraw(const std::vector<const UnitRun*>& runs, bool force = false,
                const std::string& footer = {});
    // The table of every unit, then its totals (below).
    void Summary(const std::vector<const UnitRun*>& runs, bool recordFailed);
    // "N units: S succeeded, F failed" (and ", K not started" when some
    // never started), and a line when a record could not be written.
    void Totals(std::size_t units, std::size_t succeeded, std::size_t failed,
                std::size_t notStarted, bool recordFailed);
    // The rows drawn so far stay as they are: what follows goes below them.
    void Forget();

private:
    void EraseRows();

    Mode mode;
    std::ostream& out;
    std::ostream& err;
    int columns;
    bool colours;
    int drawnRows = 0;
    std::string lastFrame;
    std::chrono::steady_clock::time_point lastDraw{};
};

// One live row, cut to the width.
std::string LiveRow(const UnitRun& run, std::size_t portWidth, std::size_t serialWidth, int width,
                    bool colours);

// Whether outcomes are shown in colour in this mode: on a terminal only, and
// never when NO_COLOR is set.
bool ColoursWanted(StationDisplay::Mode mode);
