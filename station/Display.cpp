#include "station/Display.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "devices/ListingText.h"

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr int kBarCells = 20;
constexpr std::size_t kSerialWidthLimit = 16;
constexpr const char* kClearLine = "\033[K";

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() > width) {
        text.resize(width);
    }
    text.resize(width, ' ');
    return text;
}

constexpr std::size_t kBarWidth = kBarCells + 7;  // "[", the cells, "]", " 100%"
constexpr std::size_t kOutcomeWidth = 11;         // "NOT STARTED"

// An ended unit shows its outcome where its bar was: a failed unit's bar,
// however full, says nothing true any more.
std::string OutcomeWord(const UnitRun& run) {
    if (run.outcome == "succeeded") {
        return "SUCCEEDED";
    }
    return run.outcome == "not started" ? "NOT STARTED" : "FAILED";
}

std::string Coloured(const std::string& text, const UnitRun& run, bool colours) {
    if (!colours || run.state != UnitRun::State::Ended || run.outcome == "not started") {
        return text;
    }
    return (run.succeeded ? "\033[32m" : "\033[31m") + text + "\033[0m";
}

std::string Bar(const UnitRun& run) {
    if (run.total == 0) {
        return std::string(kBarWidth, ' ');
    }
    const std::uint64_t shown = std::min(run.done, run.total);
    const int percent = static_cast<int>(shown * 100 / run.total);
    const int filled = percent * kBarCells / 100;
    char counts[8];
    std::snprintf(counts, sizeof counts, " %3d%%", percent);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarCells - filled), '.') + "]" + counts;
}

std::size_t NameWidth(const std::vector<const UnitRun*>& runs) {
    std::size_t width = 4;
    for (const UnitRun* run : runs) {
        width = std::max(width, run->Name().size());
    }
    return width;
}

std::size_t SerialWidth(const std::vector<const UnitRun*>& runs) {
    std::size_t width = 6;
    for (const UnitRun* run : runs) {
        width = std::max(width, std::min(run->unit.serialNumber.size(), kSerialWidthLimit));
    }
    return width;
}

// The summary's first column: "slot" on a bench map, "port" without one.
std::string NameHeading(const std::vector<const UnitRun*>& runs) {
    return !runs.empty() && !runs.front()->slot.empty() ? "slot" : "port";
}

// A unit that never started has no time.
std::string Elapsed(const UnitRun& run) {
    if (run.state == UnitRun::State::Waiting || (run.state == UnitRun::State::Ended && !run.ran)) {
        return "";
    }
    return Seconds(run.ElapsedSeconds());
}

std::string StateText(const UnitRun& run) {
    switch (run.state) {
        case UnitRun::State::Waiting:
            return run.idleText.empty() ? "waiting" : run.idleText;
        case UnitRun::State::Running:
            return run.phase.empty() ? "starting" : run.phase;
        case UnitRun::State::Ended:
            break;
    }
    return run.reason.empty() ? run.outcome : run.reason;
}

}  // namespace

std::string LiveRow(const UnitRun& run, std::size_t portWidth, std::size_t serialWidth, int width,
                    bool colours) {
    const std::string elapsed = Elapsed(run);
    std::string head = Padded(run.Name(), portWidth) + "  " +
                       Padded(OnOneLine(run.unit.serialNumber), serialWidth) + "  ";
    const bool ended = run.state == UnitRun::State::Ended;
    const std::string barOrOutcome = ended ? Padded(OutcomeWord(run), kBarWidth) : Bar(run);
    std::string tail = "  " + barOrOutcome + "  " + Padded(elapsed, 8);
    // On a narrow terminal the latest line gives way first, then an ended
    // unit's outcome its padding, so that the outcome and the time stay in
    // view; then the row is cut at the end.
    int room = width - 1 - static_cast<int>(head.size() + tail.size());
    if (room < 0 && ended) {
        tail = "  " + Padded(OutcomeWord(run), kOutcomeWidth) + "  " + Padded(elapsed, 8);
        room = width - 1 - static_cast<int>(head.size() + tail.size());
    }
    const std::string middle = Padded(OnOneLine(StateText(run)), static_cast<std::size_t>(std::max(room, 0)));
    std::string row = head + middle + tail;
    if (static_cast<int>(row.size()) > width - 1) {
        row.resize(static_cast<std::size_t>(std::max(width - 1, 0)));
    }
    if (ended && colours) {
        const std::size_t at = head.size() + middle.size() + 2;
        if (at < row.size()) {
            const std::size_t length = std::min(OutcomeWord(run).size(), row.size() - at);
            row = row.substr(0, at) + Coloured(row.substr(at, length), run, true) +
                  row.substr(at + length);
        }
    }
    return row;
}

bool ColoursWanted(StationDisplay::Mode mode) {
    const char* noColour = std::getenv("NO_COLOR");
    return mode == StationDisplay::Mode::Terminal && (noColour == nullptr || *noColour == '\0');
}

StationDisplay::StationDisplay(Mode mode, std::ostream& out, std::ostream& err, int columns,
                               bool colours)
    : mode(mode), out(out), err(err), columns(columns), colours(colours) {}

void StationDisplay::EraseRows() {
    lastFrame.clear();
    if (drawnRows > 0) {
        out << "\033[" << drawnRows << "A\r\033[J" << std::flush;
        drawnRows = 0;
    }
}

void StationDisplay::Notice(const std::string& line) {
    if (mode == Mode::Terminal) {
        EraseRows();
    }
    err << line << std::endl;
}

void StationDisplay::Line(const UnitRun& run, const UnitLine& line) {
    if (mode != Mode::Lines) {
        return;
    }
    std::ostream& stream = line.stream == UnitLine::Stream::Output ? out : err;
    stream << run.Name() << ": " << line.text << std::endl;
}

void StationDisplay::SlotLine(const std::string& name, const std::string& text) {
    if (mode == Mode::Lines) {
        out << name << ": " << text << std::endl;
    }
}

void StationDisplay::Ended(const UnitRun&, const Record& record) {
    if (mode == Mode::Json) {
        out << RecordLine(record) << std::endl;
    }
}

void StationDisplay::Redraw(const std::vector<const UnitRun*>& runs, bool force,
                            const std::string& footer) {
    if (mode != Mode::Terminal) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawnRows > 0 && now - lastDraw < kRedrawInterval) {
        return;
    }
    lastDraw = now;
    const std::size_t portWidth = NameWidth(runs);
    const std::size_t serialWidth = SerialWidth(runs);
    std::string frame;
    if (drawnRows > 0) {
        frame += "\033[" + std::to_string(drawnRows) + "A\r";
    }
    for (const UnitRun* run : runs) {
        frame += LiveRow(*run, portWidth, serialWidth, columns, colours) + kClearLine + "\n";
    }
    int rows = static_cast<int>(runs.size());
    if (!footer.empty()) {
        std::string line = footer.substr(0, static_cast<std::size_t>(std::max(columns - 1, 0)));
        frame += line + kClearLine + "\n";
        ++rows;
    }
    // A row that went away (a bench without a map loses a port's row)
    // leaves nothing behind.
    frame += "\033[J";
    // An idle bench's rows do not change: nothing is written then.
    if (force || frame != lastFrame) {
        out << frame << std::flush;
        lastFrame = frame;
    }
    drawnRows = rows;
}

void StationDisplay::Summary(const std::vector<const UnitRun*>& runs, bool recordFailed) {
    if (mode == Mode::Json || mode == Mode::Events) {
        return;
    }
    Redraw(runs, true);
    const std::size_t portWidth = NameWidth(runs);
    const std::size_t serialWidth = SerialWidth(runs);
    int succeeded = 0;
    int notStarted = 0;
    out << "\n"
        << Padded(NameHeading(runs), portWidth) << "  " << Padded("serial", serialWidth) << "  "
        << Padded("outcome", 11) << "  " << Padded("status", 6) << "  " << Padded("time", 8)
        << "  reason" << std::endl;
    for (const UnitRun* each : runs) {
        const UnitRun& run = *each;
        succeeded += run.succeeded ? 1 : 0;
        notStarted += run.outcome == "not started" ? 1 : 0;
        const std::string status = run.exitStatus ? std::to_string(*run.exitStatus) : "-";
        const std::string time = run.ran ? Seconds(run.ElapsedSeconds()) : "-";
        std::string line = Padded(run.Name(), portWidth) + "  " +
                           Padded(OnOneLine(run.unit.serialNumber), serialWidth) + "  " +
                           Coloured(Padded(run.outcome, 11), run, colours) + "  " +
                           Padded(status, 6) + "  " + Padded(time, 8) + "  " +
                           OnOneLine(run.reason);
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << std::endl;
    }
    const std::size_t failed = runs.size() - static_cast<std::size_t>(succeeded + notStarted);
    Totals(runs.size(), static_cast<std::size_t>(succeeded), failed,
           static_cast<std::size_t>(notStarted), recordFailed);
}

void StationDisplay::Totals(std::size_t units, std::size_t succeeded, std::size_t failed,
                            std::size_t notStarted, bool recordFailed) {
    if (mode == Mode::Json || mode == Mode::Events) {
        return;
    }
    out << units << (units == 1 ? " unit: " : " units: ") << succeeded << " succeeded, " << failed
        << " failed";
    if (notStarted > 0) {
        out << ", " << notStarted << " not started";
    }
    out << std::endl;
    if (recordFailed) {
        out << "Not every record could be written to the log (see the lines above)." << std::endl;
    }
}

void StationDisplay::Forget() {
    drawnRows = 0;
    lastFrame.clear();
}
