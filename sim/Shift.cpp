#include "sim/Shift.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "sim/Scenario.h"
#include "sim/ShiftProcess.h"
#include "sim/SimWorld.h"

namespace sim {

namespace {

struct ShiftEvent {
    enum class Kind { Plug, Unplug, Stop };
    Kind kind;
    ShiftClock::duration at;  // from the start, at the shift's pace
    std::string entry;        // Plug: the QUORL_SIM_DEVICES entry
    HubPort port = 0;         // Plug, Unplug
};

struct Shift {
    std::vector<ShiftEvent> events;
    std::size_t next = 0;
    std::optional<ShiftClock::time_point> start;
};

Shift& TheShift() {
    static Shift shift;
    return shift;
}

constexpr const char* kForms =
    "each line is \"at SECONDS plug KIND port P [serial S] [key=value...]\", "
    "\"at SECONDS unplug port P\" or \"at SECONDS stop\"";

// Eleven and a half days: longer than any shift, and short enough that any
// pace QUORL_SIM_SHIFT_SPEED takes keeps every time on the clock.
constexpr double kLongestShift = 1e6;

// Seconds as written, up to the longest shift: digits with a decimal point
// or without; none for any other text.
std::optional<double> Seconds(const std::string& text) {
    double seconds = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
        seconds < 0 || seconds > kLongestShift || text[0] == '-') {
        return std::nullopt;
    }
    return seconds;
}

// Reads one event from a line's words; an empty text, or why not.
class LineReader {
public:
    explicit LineReader(std::vector<std::string> words) : words(std::move(words)) {}

    std::string Read(ShiftEvent& event, double& seconds) {
        if (words.size() < 3 || words[0] != "at") {
            return std::string("not an event: ") + kForms;
        }
        const std::optional<double> time = Seconds(words[1]);
        if (!time) {
            return "\"" + words[1] + "\" is not a time in seconds, such as 6 or 0.5 (at most 1000000)";
        }
        seconds = *time;
        const std::string& verb = words[2];
        if (verb == "stop") {
            event.kind = ShiftEvent::Kind::Stop;
            return Rest(3);
        }
        const std::size_t portWord = verb == "plug" ? 4 : 3;
        if ((verb != "plug" && verb != "unplug") || words.size() <= portWord + 1 ||
            words[portWord] != "port") {
            return std::string("not an event: ") + kForms;
        }
        const std::optional<HubPort> port = ParseHubPort(words[portWord + 1]);
        if (!port) {
            return NotAHubPort(words[portWord + 1]);
        }
        event.port = *port;
        if (verb == "unplug") {
            event.kind = ShiftEvent::Kind::Unplug;
            return Rest(portWord + 2);
        }
        event.kind = ShiftEvent::Kind::Plug;
        return Entry(event, portWord + 2);
    }

private:
    std::string Rest(std::size_t from) const {
        return from < words.size() ? "\"" + words[from] + "\" after the event" : std::string();
    }

    // KIND:at=P[:serial=S][:key=value...], checked against the models.
    std::string Entry(ShiftEvent& event, std::size_t from) const {
        event.entry = words[3] + ":at=" + words[5];
        for (std::size_t i = from; i < words.size(); ++i) {
            std::string setting = words[i];
            if (setting == "serial" && i + 1 < words.size()) {
                setting = "serial=" + words[++i];
            } else if (setting.find('=') == std::string::npos) {
                return "\"" + setting + "\" is neither \"serial S\" nor a key=value setting";
            }
            if (setting.find_first_of(":,") != std::string::npos) {
                return "\"" + setting + "\": a setting holds no \":\" or \",\"";
            }
            event.entry += ":" + setting;
        }
        std::string error;
        return CheckScenarioEntry(event.entry, error) ? std::string() : error;
    }

    std::vector<std::string> words;
};

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

bool LoadShift(const std::string& path, double speed, std::string& error) {
    ForgetShift();
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::vector<ShiftEvent> events;
    double latest = 0;
    // The line that plugged a unit into each port the shift fills, until it
    // takes it out: one port holds one unit.
    std::map<HubPort, int> filledAt;
    std::optional<int> stoppedAt;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;
        }
        const auto refuse = [&](const std::string& reason) {
            error = path + ":" + std::to_string(number) + ": " + reason;
            return false;
        };
        if (stoppedAt) {
            return refuse("an event after the stop at line " + std::to_string(*stoppedAt));
        }
        ShiftEvent event{};
        double seconds = 0;
        if (const std::string reason = LineReader(words).Read(event, seconds); !reason.empty()) {
            return refuse(reason);
        }
        if (seconds < latest) {
            return refuse("at " + words[1] + " comes before an earlier line's time: the events "
                          "go in the order of their times");
        }
        latest = seconds;
        if (event.kind == ShiftEvent::Kind::Plug) {
            if (const auto filled = filledAt.find(event.port); filled != filledAt.end()) {
                return refuse("port " + HubPortText(event.port) + " holds the unit plugged in at line " +
                              std::to_string(filled->second) + " until an unplug takes it out");
            }
            filledAt[event.port] = number;
        } else if (event.kind == ShiftEvent::Kind::Unplug) {
            filledAt.erase(event.port);
        } else {
            stoppedAt = number;
        }
        event.at = std::chrono::duration_cast<ShiftClock::duration>(
            std::chrono::duration<double>(seconds / speed));
        events.push_back(std::move(event));
    }
    TheShift().events = std::move(events);
    return true;
}

void StartShift() {
    Shift& shift = TheShift();
    if (!shift.start) {
        shift.start = ShiftClock::now();
    }
}

std::optional<ShiftClock::time_point> NextShiftEvent() {
    const Shift& shift = TheShift();
    if (!shift.start || shift.next >= shift.events.size()) {
        return std::nullopt;
    }
    return *shift.start + shift.events[shift.next].at;
}

bool PlayShift() {
    Shift& shift = TheShift();
    World& world = World::Get();
    bool played = false;
    bool worldChanged = false;
    bool stop = false;
    for (std::optional<ShiftClock::time_point> due = NextShiftEvent();
         due && *due <= ShiftClock::now(); due = NextShiftEvent()) {
        const ShiftEvent& event = shift.events[shift.next++];
        played = true;
        std::string error;
        switch (event.kind) {
            case ShiftEvent::Kind::Plug:
                // Checked when the shift was loaded.
                PlugScenarioEntry(event.entry, error);
                worldChanged = true;
                break;
            case ShiftEvent::Kind::Unplug:
                world.RemoveAtPort(event.port);
                worldChanged = true;
                break;
            case ShiftEvent::Kind::Stop:
                stop = true;
                break;
        }
    }
    if (worldChanged) {
        SetEnvironmentVariable("QUORL_SIM_DEVICES", PresentScenario());
    }
    // Last, once the world is as the shift left it.
    if (stop) {
        AskToStop();
    }
    return played;
}

void ForgetShift() { TheShift() = Shift{}; }

}  // namespace sim
