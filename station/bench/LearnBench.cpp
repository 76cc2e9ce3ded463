// Learning a bench map: a slot's port is where a unit newly shows while the
// operator is asked for that slot. "Newly" is against the survey before, so
// units already plugged in at the start are passed over, and a port that goes
// empty and shows a unit again counts: one unit moved from slot to slot
// teaches the whole bench as well as one unit a slot.
#include "station/bench/LearnBench.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "station/bench/BenchMap.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a stop request is looked for while no device comes or goes.
constexpr auto kStopCheck = std::chrono::milliseconds(250);

constexpr int kInterrupted = 1;  // as an interrupted station run
constexpr int kRefused = 2;      // as a refused station command line

// Paths are UTF-8 on every system; Windows needs them as wide text.
std::filesystem::path FilePath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The letters before a label's number: "A" of "A12"; empty when the label
// is not letters then a number.
std::string RowOf(const std::string& label) {
    const std::size_t digits = label.find_last_not_of("0123456789") + 1;
    return digits == label.size() ? std::string() : label.substr(0, digits);
}

// The grid the fixture's labels show: as many columns as labels of the first
// label's row, in a row from the first; one row when the labels name none.
int ColumnsOf(const std::vector<std::string>& labels) {
    const std::string firstRow = RowOf(labels.front());
    std::size_t columns = labels.size();
    if (!firstRow.empty()) {
        const auto rowEnd = std::find_if(labels.begin(), labels.end(),
                                         [&](const std::string& label) { return RowOf(label) != firstRow; });
        columns = static_cast<std::size_t>(rowEnd - labels.begin());
    }
    return static_cast<int>(std::min<std::size_t>(columns, kMaxBenchColumns));
}

// Whether a file can be made beside the map: tried with a file of its own,
// removed at once, so that a bench is never learned for nothing.
bool FolderTakesFiles(const std::filesystem::path& folder, const std::filesystem::path& target) {
    std::ostringstream suffix;
    suffix << std::hex << std::random_device()();
    std::filesystem::path probe = folder / target.filename();
    probe += ".learning-" + suffix.str();
    bool written = false;
    {
        std::ofstream file(probe, std::ios::binary | std::ios::trunc);
        written = file.is_open() && static_cast<bool>(file << '\n');
    }
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return written;
}

// Why the request cannot be learned, or nothing.
std::optional<std::string> Refusal(const LearnBenchRequest& request) {
    if (request.path.empty()) {
        return "--learn-bench needs the file to write";
    }
    if (request.labels.empty()) {
        return "--learn-bench needs the slots' labels after --slots";
    }
    std::set<std::string> seen;
    for (const std::string& label : request.labels) {
        if (!IsSlotLabel(label)) {
            return "slot label \"" + label + "\" is not 1 to 16 printable characters without spaces at the ends";
        }
        if (!seen.insert(label).second) {
            return "slot " + label + " is named twice";
        }
    }
    if (request.columns < 0 || request.columns > kMaxBenchColumns) {
        return "--columns must be a whole number from 1 to " + std::to_string(kMaxBenchColumns);
    }
    const std::filesystem::path target = FilePath(request.path);
    std::error_code error;
    if (std::filesystem::is_directory(target, error)) {
        return request.path + " is a folder, not a file";
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (!std::filesystem::is_directory(folder, error)) {
        return "cannot write " + request.path + ": there is no folder " + Utf8(folder);
    }
    if (!FolderTakesFiles(folder, target)) {
        return "cannot write " + request.path + ": its folder does not take new files";
    }
    return std::nullopt;
}

// The surveys as the learning sees them: the ports showing a device of the
// family, and what newly showed since the survey before.
class PortWatch {
public:
    explicit PortWatch(const std::vector<ListedDevice>& first) { Take(first); }

    // The ports where a device shows now and did not at the survey before;
    // each device without a known port that newly shows is told.
    std::vector<std::string> NewPorts(const std::vector<ListedDevice>& survey, std::ostream& err) {
        const std::set<std::string> before = ports;
        const std::set<std::string> portlessBefore = portless;
        Take(survey);
        std::vector<std::string> fresh;
        for (const std::string& port : ports) {
            if (!before.contains(port)) {
                fresh.push_back(port);
            }
        }
        for (const ListedDevice& device : survey) {
            if (device.port.empty() && !portlessBefore.contains(device.path)) {
                err << "quorl-station: the " << device.what.kind
                    << (device.path.empty() ? std::string() : " at " + device.path)
                    << ": its USB port is unknown, so it cannot be learned" << std::endl;
            }
        }
        return fresh;
    }

private:
    void Take(const std::vector<ListedDevice>& survey) {
        ports.clear();
        portless.clear();
        for (const ListedDevice& device : survey) {
            (device.port.empty() ? portless : ports).insert(device.port.empty() ? device.path : device.port);
        }
    }

    std::set<std::string> ports;
    std::set<std::string> portless;  // paths of the devices without a port
};

// Waits until a unit newly shows at a port no other slot has; empty when a
// stop was requested first.
std::string PortForSlot(const std::string& label, const BenchMap& learned, PortWatch& watch,
                        const LearnBenchSystem& system, std::ostream& err) {
    while (!system.stopRequested()) {
        if (!system.waitForChange(Clock::now() + kStopCheck)) {
            continue;
        }
        std::vector<std::string> fresh;
        for (const std::string& port : watch.NewPorts(system.survey(), err)) {
            if (const BenchSlot* owner = learned.SlotAtPort(port)) {
                err << "quorl-station: " << port << " is already slot " << owner->label
                    << "'s: still waiting for slot " << label << std::endl;
            } else {
                fresh.push_back(port);
            }
        }
        if (fresh.size() == 1) {
            return fresh.front();
        }
        if (fresh.size() > 1) {
            // Which came first cannot be told: never guess a slot's port.
            std::string ports;
            for (const std::string& port : fresh) {
                ports += (ports.empty() ? "" : " and ") + port;
            }
            err << "quorl-station: units showed at " << ports << " at once: unplug them, "
                << "then plug the unit for slot " << label << " alone" << std::endl;
        }
    }
    return {};
}

}  // namespace

int LearnBench(const LearnBenchRequest& request, const LearnBenchSystem& system, std::ostream& out,
               std::ostream& err) {
    if (const std::optional<std::string> refusal = Refusal(request)) {
        err << "quorl-station: " << *refusal << std::endl;
        return kRefused;
    }
    const std::filesystem::path target = FilePath(request.path);
    BenchMap map;
    map.name = request.name.empty() ? Utf8(target.stem()) : request.name;
    map.columns = request.columns != 0 ? request.columns : ColumnsOf(request.labels);
    std::error_code error;
    const bool replacing = std::filesystem::exists(target, error);
    if (replacing) {
        out << request.path << " is there already: it is replaced once every slot is learned" << std::endl;
    }
    PortWatch watch(system.survey());
    for (const std::string& label : request.labels) {
        out << "Plug a unit into slot " << label << std::endl;
        const std::string port = PortForSlot(label, map, watch, system, err);
        if (port.empty()) {
            err << "quorl-station: interrupted: no bench map written" << std::endl;
            return kInterrupted;
        }
        out << "Slot " << label << ": " << port << std::endl;
        map.slots.push_back({label, port});
    }
    if (const std::optional<std::string> problem = SaveBenchMap(map, request.path)) {
        err << "quorl-station: " << *problem << std::endl;
        return 1;
    }
    out << "Bench map of " << map.slots.size() << (map.slots.size() == 1 ? " slot" : " slots")
        << " written to " << request.path << (replacing ? ", in place of the one there" : "") << std::endl;
    return 0;
}
