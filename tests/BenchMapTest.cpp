// The bench: the bench map file as an operator writes it by hand (each
// refusal with the file and line at fault), as the station saves it and as
// it learns it from units plugged in slot by slot; and one slot followed
// through arrivals, the unit's own restarts, its run and its removal.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "station/bench/BenchMap.h"
#include "station/bench/LearnBench.h"
#include "station/bench/SlotStateMachine.h"
#include "testsupport/TempFiles.h"

namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Slot(const std::string& label, const std::string& port) {
    return "\n[[slot]]\nlabel = \"" + label + "\"\nport = \"" + port + "\"\n";
}

// A bench of one slot at that port: lines 1-2 the bench, line 6 the port.
std::string OneSlotAt(const std::string& port) { return "name = \"B\"\ncolumns = 1\n" + Slot("A1", port); }

const std::string kHub = "usb-0000:00:14.0-1.";
const std::string kWindowsRoot = "PCIROOT(0)#PCI(1400)#USBROOT(0)";

std::string Contents(const std::string& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct MapRow {
    std::string what;
    std::string file;
    std::string refusal;  // after "FILE:"; empty when the map loads
    int columns = 1;      // when it loads
};

TEST(BenchMap, LoadsOrRefusesWithFileAndLine) {
    const std::vector<MapRow> rows = {
        {"the example map, both systems' ports",
         "name = \"Line 2, bench 1\"\ncolumns = 4\n" + Slot("A1", kHub + "1") +
             Slot("B1", kWindowsRoot + "#USB(2)#USB(1)"),
         "", 4},
        {"columns left out: one row of all the slots",
         "name = \"B\"\n" + Slot("A1", kHub + "1") + Slot("A2", kHub + "2") + Slot("A3", kHub + "3"), "", 3},
#ifdef QUORL_SAMPLES_DIR
        {"the samples map", Contents(QUORL_SAMPLES_DIR "/bench-2x4.toml"), "", 4},
#endif
        {"deepest hub, highest port", OneSlotAt(kHub + "2.3.4.5.6.255"), ""},
        {"controller named without PCI", OneSlotAt("usb-xhci-hcd.0.auto-1.2"), ""},
        {"PCI bridges above the controller",
         OneSlotAt("PCIROOT(0)#PCI(0801)#PCI(0000)#USBROOT(0)#USB(3)"), ""},
        {"a parse error at its own line", "name = \"B\"\ncolumns = = 4\n",
         "2: Error while parsing value: could not determine value type"},
        {"unknown key", "name = \"B\"\nbench = 2\n" + Slot("A1", kHub + "1"), "2: unknown key \"bench\""},
        {"unknown key in a slot", OneSlotAt(kHub + "1") + "serial = \"X\"\n",
         "7: unknown key \"serial\" in [[slot]]"},
        {"no name", "columns = 1\n" + Slot("A1", kHub + "1"), "1: a bench map without name"},
        {"a name that is not a text", "name = 2\n" + Slot("A1", kHub + "1"),
         "1: name must be a text in quotes"},
        {"no label", "name = \"B\"\n\n[[slot]]\nport = \"" + kHub + "1\"\n", "3: [[slot]] without label"},
        {"no port", "name = \"B\"\n\n[[slot]]\nlabel = \"A1\"\n", "3: [[slot]] without port"},
        {"no slot", "name = \"B\"\ncolumns = 1\n", "1: the map has no [[slot]]"},
        {"slot as one table", "name = \"B\"\n[slot]\nlabel = \"A1\"\n",
         "2: slot must be written as [[slot]] tables"},
        {"no columns", "name = \"B\"\ncolumns = 0\n" + Slot("A1", kHub + "1"),
         "2: columns must be a whole number from 1 to 16"},
        {"too many columns", "name = \"B\"\ncolumns = 17\n" + Slot("A1", kHub + "1"),
         "2: columns must be a whole number from 1 to 16"},
        {"columns in quotes", "name = \"B\"\ncolumns = \"4\"\n" + Slot("A1", kHub + "1"),
         "2: columns must be a whole number from 1 to 16"},
        {"label twice", "name = \"B\"\n" + Slot("A1", kHub + "1") + Slot("A1", kHub + "2"),
         "8: label \"A1\" is already on line 4"},
        {"port twice", "name = \"B\"\n" + Slot("A1", kHub + "1") + Slot("A2", kHub + "1"),
         "9: port \"usb-0000:00:14.0-1.1\" is already slot \"A1\"'s, on line 5"},
        {"label with a space at its end", "name = \"B\"\n" + Slot("A1 ", kHub + "1"),
         "4: label \"A1 \" is not 1 to 16 printable characters without spaces at the ends"},
        {"label of 17", "name = \"B\"\n" + Slot("ABCDEFGHIJKLMNOPQ", kHub + "1"),
         "4: label \"ABCDEFGHIJKLMNOPQ\" is not 1 to 16 printable characters without spaces at the ends"},
        {"label with a tab", "name = \"B\"\n" + Slot("A\\t1", kHub + "1"),
         "4: label \"A?1\" is not 1 to 16 printable characters without spaces at the ends"},
        {"port 0", OneSlotAt(kHub + "0"), "6: \"usb-0000:00:14.0-1.0\" is not a USB port"},
        {"port 256", OneSlotAt(kHub + "256"), "6: \"usb-0000:00:14.0-1.256\" is not a USB port"},
        {"port with a leading zero", OneSlotAt(kHub + "02"), "6: \"usb-0000:00:14.0-1.02\" is not a USB port"},
        {"eight hubs deep", OneSlotAt(kHub + "2.3.4.5.6.7.8"),
         "6: \"usb-0000:00:14.0-1.2.3.4.5.6.7.8\" is not a USB port"},
        {"empty step", OneSlotAt(kHub + ".2"), "6: \"usb-0000:00:14.0-1..2\" is not a USB port"},
        {"HID interface", OneSlotAt(kHub + "1/input0"), "6: \"usb-0000:00:14.0-1.1/input0\" is not a USB port"},
        {"no controller", OneSlotAt("usb--1"), "6: \"usb--1\" is not a USB port"},
        {"a device node", OneSlotAt("/dev/hidraw0"), "6: \"/dev/hidraw0\" is not a USB port"},
        {"Windows root hub itself", OneSlotAt(kWindowsRoot),
         "6: \"PCIROOT(0)#PCI(1400)#USBROOT(0)\" is not a USB port"},
        {"Windows port 0", OneSlotAt(kWindowsRoot + "#USB(0)"),
         "6: \"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(0)\" is not a USB port"},
        {"Windows nothing above the root hub", OneSlotAt("USBROOT(0)#USB(1)"),
         "6: \"USBROOT(0)#USB(1)\" is not a USB port"},
        {"Windows empty step", OneSlotAt("PCIROOT(0)##USBROOT(0)#USB(1)"),
         "6: \"PCIROOT(0)##USBROOT(0)#USB(1)\" is not a USB port"},
        {"Windows step of another kind below the root", OneSlotAt(kWindowsRoot + "#USB(2)#PCI(1)"),
         "6: \"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#PCI(1)\" is not a USB port"},
        {"Windows trailing separator", OneSlotAt(kWindowsRoot + "#USB(2)#"),
         "6: \"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#\" is not a USB port"},
    };
    TempDirectory directory;
    for (const MapRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = directory.Write("bench.toml", Text(row.file));
        const auto loaded = LoadBenchMap(path);
        if (!row.refusal.empty()) {
            ASSERT_TRUE(std::holds_alternative<std::string>(loaded));
            EXPECT_EQ(std::get<std::string>(loaded), path + ":" + row.refusal);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<BenchMap>(loaded)) << std::get<std::string>(loaded);
        const BenchMap& map = std::get<BenchMap>(loaded);
        EXPECT_EQ(map.columns, row.columns);
        if (map.slots.size() == 2) {
            EXPECT_EQ(map.name, "Line 2, bench 1");
            EXPECT_EQ(map.slots[0].label, "A1");
            ASSERT_NE(map.SlotAtPort(kWindowsRoot + "#USB(2)#USB(1)"), nullptr);
            EXPECT_EQ(map.SlotAtPort(kWindowsRoot + "#USB(2)#USB(1)")->label, "B1");
            ASSERT_NE(map.SlotLabelled("A1"), nullptr);
            EXPECT_EQ(map.SlotLabelled("A1")->port, "usb-0000:00:14.0-1.1");
            EXPECT_EQ(map.SlotAtPort(kHub + "9"), nullptr);
        }
    }
    const std::string missing = (std::filesystem::path(directory.Path()) / "none.toml").string();
    EXPECT_EQ(std::get<std::string>(LoadBenchMap(missing)), missing + ": cannot be read");
}

TEST(BenchMap, SavedInTheHandWrittenLayoutWholeOrNotAtAll) {
    TempDirectory directory;
    const std::string path = directory.Write("bench.toml", Text("name = \"old\"\n"));
    const BenchMap map{"Prüfplatz \"2\" #1 \\ left", 2, {{"A1", kHub + "1"}, {"#2", kWindowsRoot + "#USB(4)"}}};
    ASSERT_EQ(SaveBenchMap(map, path), std::nullopt);
    EXPECT_EQ(Contents(path),
              "name = \"Prüfplatz \\\"2\\\" #1 \\\\ left\"\ncolumns = 2\n"
              "\n[[slot]]\nlabel = \"A1\"\nport = \"usb-0000:00:14.0-1.1\"\n"
              "\n[[slot]]\nlabel = \"#2\"\nport = \"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)\"\n");
    const auto loaded = LoadBenchMap(path);
    ASSERT_TRUE(std::holds_alternative<BenchMap>(loaded)) << std::get<std::string>(loaded);
    const BenchMap& back = std::get<BenchMap>(loaded);
    EXPECT_EQ(back.name, map.name);
    EXPECT_EQ(back.columns, 2);
    ASSERT_EQ(back.slots.size(), 2u);
    EXPECT_EQ(back.slots[1].label, "#2");
    EXPECT_EQ(back.slots[1].port, map.slots[1].port);
    // Only the map is left: no temporary file beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.Path()),
                            std::filesystem::directory_iterator()), 1);
    const std::string nowhere = (std::filesystem::path(directory.Path()) / "no" / "bench.toml").string();
    EXPECT_EQ(SaveBenchMap(map, nowhere), nowhere + ": cannot be written");
}

// ---- Learning a map -----------------------------------------------------------

// One survey: the ports where a unit shows; "?PATH" a device at PATH whose
// port is unknown. kStop: Ctrl+C comes instead of the next change.
using Survey = std::vector<std::string>;
const Survey kStop = {"Ctrl+C"};

std::string Port(int n) { return kHub + std::to_string(n); }

// The surveys of a script, the first at the start, the next at each change.
class ScriptedBench {
public:
    explicit ScriptedBench(std::vector<Survey> surveys) : surveys(std::move(surveys)) {}

    LearnBenchSystem System() {
        return {[this] {
                    ++taken;
                    std::vector<ListedDevice> devices;
                    for (const std::string& entry : surveys[at]) {
                        const bool portless = entry.starts_with("?");
                        devices.push_back({DeviceKind{"controller", "application"}, 0x1234, 0x5678, 0, "", "",
                                           portless ? entry.substr(1) : "/dev/hidraw-" + entry,
                                           portless ? "" : entry});
                    }
                    return devices;
                },
                [this](std::chrono::steady_clock::time_point until) {
                    EXPECT_GT(until, std::chrono::steady_clock::now());
                    // A script that ends stops the learning rather than hang the test.
                    stopped = at + 1 >= surveys.size() || surveys[at + 1] == kStop;
                    at += stopped ? 0 : 1;
                    return !stopped;
                },
                [this] { return stopped; }};
    }

    int taken = 0;  // surveys

private:
    std::vector<Survey> surveys;
    std::size_t at = 0;
    bool stopped = false;
};

struct LearnRow {
    std::string what;
    std::vector<std::string> labels;
    std::vector<Survey> surveys;
    int status;
    std::string out;  // FILE stands for the map's path, FOLDER for its folder
    std::string err;
    std::vector<BenchSlot> learned;  // the map written; empty when none is
    int columns = 0;                 // of the map written
    int askedColumns = 0;            // --columns; 0 when not given
    std::string file = "bench.toml";
    bool mapThereBefore = false;
    std::string name = {};  // --name; none when empty
};

std::string Placed(std::string text, const std::string& path, const std::string& folder) {
    for (const auto& [word, value] : {std::pair<std::string, std::string>{"FILE", path}, {"FOLDER", folder}}) {
        for (std::size_t at; (at = text.find(word)) != std::string::npos;) {
            text.replace(at, word.size(), value);
        }
    }
    return text;
}

std::string PlugAndLearn(const std::string& label, int port) {
    return "Plug a unit into slot " + label + "\nSlot " + label + ": " + Port(port) + "\n";
}

TEST(BenchMap, LearnedSlotBySlotFromTheUnitsPluggedIn) {
    const std::string kOldMap = OneSlotAt(Port(9));
    const std::vector<LearnRow> rows = {
        {"three slots plugged one after another", {"A1", "A2", "A3"},
         {{}, {Port(1)}, {Port(1), Port(2)}, {Port(1), Port(2), Port(3)}}, 0,
         PlugAndLearn("A1", 1) + PlugAndLearn("A2", 2) + PlugAndLearn("A3", 3) +
             "Bench map of 3 slots written to FILE\n",
         "", {{"A1", Port(1)}, {"A2", Port(2)}, {"A3", Port(3)}}, 3},
        {"one unit moved from slot to slot; a change without a new port waited through", {"A1", "B1"},
         {{}, {Port(4)}, {}, {}, {Port(2)}}, 0,
         PlugAndLearn("A1", 4) + PlugAndLearn("B1", 2) + "Bench map of 2 slots written to FILE\n", "",
         {{"A1", Port(4)}, {"B1", Port(2)}}, 1, 0, "bench.toml", false, "Line 2, bench 1"},
        {"a port another slot has is refused and the slot still waits", {"A1", "A2"},
         {{}, {Port(1)}, {}, {Port(1)}, {}, {Port(2)}}, 0,
         PlugAndLearn("A1", 1) + PlugAndLearn("A2", 2) + "Bench map of 2 slots written to FILE\n",
         "quorl-station: " + Port(1) + " is already slot A1's: still waiting for slot A2\n",
         {{"A1", Port(1)}, {"A2", Port(2)}}, 2},
        {"units there at the start are passed over until they are plugged again", {"A1", "A2"},
         {{Port(9)}, {Port(9), Port(1)}, {Port(1)}, {Port(1), Port(9)}}, 0,
         PlugAndLearn("A1", 1) + PlugAndLearn("A2", 9) + "Bench map of 2 slots written to FILE\n", "",
         {{"A1", Port(1)}, {"A2", Port(9)}}, 2},
        {"Ctrl+C half way leaves no file", {"A1", "A2", "A3"}, {{}, {Port(1)}, kStop}, 1,
         PlugAndLearn("A1", 1) + "Plug a unit into slot A2\n",
         "quorl-station: interrupted: no bench map written\n", {}},
        {"Ctrl+C leaves the map there before as it was", {"A1"}, {{Port(9)}, kStop}, 1,
         "FILE is there already: it is replaced once every slot is learned\nPlug a unit into slot A1\n",
         "quorl-station: interrupted: no bench map written\n", {}, 0, 0, "bench.toml", true},
        {"a device whose port is unknown is told once and not learned", {"A1"},
         {{}, {"?/dev/hidraw7"}, {"?/dev/hidraw7", Port(3)}}, 0,
         PlugAndLearn("A1", 3) + "Bench map of 1 slot written to FILE\n",
         "quorl-station: the controller at /dev/hidraw7: its USB port is unknown, so it cannot be learned\n",
         {{"A1", Port(3)}}, 5, 5},
        {"two units at once are not guessed", {"A1", "A2"},
         {{}, {Port(1), Port(2)}, {Port(1)}, {}, {Port(2)}, {Port(2), Port(1)}}, 0,
         PlugAndLearn("A1", 2) + PlugAndLearn("A2", 1) + "Bench map of 2 slots written to FILE\n",
         "quorl-station: units showed at " + Port(1) + " and " + Port(2) +
             " at once: unplug them, then plug the unit for slot A1 alone\n",
         {{"A1", Port(2)}, {"A2", Port(1)}}, 2},
        {"learning again replaces the map; two rows of two", {"A1", "A2", "B1", "B2"},
         {{}, {Port(1)}, {Port(1), Port(2)}, {Port(1), Port(2), Port(3)}, {Port(1), Port(2), Port(3), Port(4)}},
         0,
         "FILE is there already: it is replaced once every slot is learned\n" + PlugAndLearn("A1", 1) +
             PlugAndLearn("A2", 2) + PlugAndLearn("B1", 3) + PlugAndLearn("B2", 4) +
             "Bench map of 4 slots written to FILE, in place of the one there\n",
         "", {{"A1", Port(1)}, {"A2", Port(2)}, {"B1", Port(3)}, {"B2", Port(4)}}, 2, 0, "bench.toml", true},
        {"a label twice", {"A1", "A1"}, {{}}, 2, "", "quorl-station: slot A1 is named twice\n", {}},
        {"a label with a space at its end", {"A1", "A2 "}, {{}}, 2, "",
         "quorl-station: slot label \"A2 \" is not 1 to 16 printable characters without spaces at the ends\n", {}},
        {"no labels", {}, {{}}, 2, "", "quorl-station: --learn-bench needs the slots' labels after --slots\n", {}},
        {"17 columns", {"A1"}, {{}}, 2, "", "quorl-station: --columns must be a whole number from 1 to 16\n", {},
         0, 17},
        {"no such folder", {"A1"}, {{}}, 2, "", "quorl-station: cannot write FILE: there is no folder FOLDER\n", {},
         0, 0, "no/bench.toml"},
        {"a folder named as the file", {"A1"}, {{}}, 2, "", "quorl-station: FILE is a folder, not a file\n", {},
         0, 0, "."},
    };
    for (const LearnRow& row : rows) {
        SCOPED_TRACE(row.what);
        TempDirectory directory;
        const std::string path = (std::filesystem::path(directory.Path()) / row.file).string();
        if (row.mapThereBefore) {
            directory.Write(row.file, Text(kOldMap));
        }
        const LearnBenchRequest request{path, row.labels, row.askedColumns, row.name};
        ScriptedBench bench(row.surveys);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(LearnBench(request, bench.System(), out, err), row.status);
        const std::string folder = std::filesystem::path(path).parent_path().string();
        EXPECT_EQ(out.str(), Placed(row.out, path, folder));
        EXPECT_EQ(err.str(), Placed(row.err, path, folder));
        if (row.status == 2) {
            EXPECT_EQ(bench.taken, 0) << "a refused request surveys nothing";
        }
        // Nothing but the map, whole, or the one there before: no temporary file.
        const auto files = std::distance(std::filesystem::directory_iterator(directory.Path()),
                                         std::filesystem::directory_iterator());
        EXPECT_EQ(files, row.mapThereBefore || !row.learned.empty() ? 1 : 0);
        if (row.learned.empty()) {
            if (row.mapThereBefore) {
                EXPECT_EQ(Contents(path), kOldMap);
            }
            continue;
        }
        const auto loaded = LoadBenchMap(path);
        ASSERT_TRUE(std::holds_alternative<BenchMap>(loaded)) << std::get<std::string>(loaded);
        const BenchMap& map = std::get<BenchMap>(loaded);
        EXPECT_EQ(map.name, row.name.empty() ? "bench" : row.name);
        EXPECT_EQ(map.columns, row.columns);
        ASSERT_EQ(map.slots.size(), row.learned.size());
        for (std::size_t slot = 0; slot < map.slots.size(); ++slot) {
            EXPECT_EQ(map.slots[slot].label, row.learned[slot].label);
            EXPECT_EQ(map.slots[slot].port, row.learned[slot].port);
        }
    }
}

// One step of a slot's life: at a time in milliseconds, what the survey
// shows at the port or what the worker did; then the state and the events.
struct SlotStep {
    int ms;
    enum { Sees, SeesNothing, Starts, Passes, Fails } what;
    std::string serial;  // Sees: the device's serial number
    SlotState after;
    std::string events;  // "removed new start", as Said() spells them
    std::string whyNotServed = {};  // Sees: the command does not serve the device
};

std::string Said(const SlotEvents& events) {
    std::string said = std::string(events.removed ? "removed " : "") + (events.newUnit ? "new " : "") +
                       (events.startWorker ? "start " : "");
    return said.empty() ? said : said.substr(0, said.size() - 1);
}

struct SlotRow {
    std::string what;
    std::vector<SlotStep> steps;
    std::chrono::milliseconds grace = kDefaultRemovalGrace;
};

using enum SlotState;
constexpr auto Sees = SlotStep::Sees;
constexpr auto Nothing = SlotStep::SeesNothing;
constexpr auto Starts = SlotStep::Starts;
constexpr auto Passes = SlotStep::Passes;
constexpr auto Fails = SlotStep::Fails;

TEST(BenchSlot, FollowsEachUnitThroughItsRestartsRunAndRemoval) {
    const std::vector<SlotRow> rows = {
        {"arrival, run, result held while the unit stays",
         {{0, Sees, "U1", Arrived, "new start"}, {20, Starts, "", Running, ""},
          {8000, Passes, "", Passed, ""}, {9000, Sees, "U1", Passed, ""}, {60000, Sees, "U1", Passed, ""}}},
        {"its own restarts, during and right after its command",
         {{0, Sees, "U1", Arrived, "new start"}, {20, Starts, "", Running, ""},
          {1000, Nothing, "", Running, ""}, {1500, Sees, "U1", Running, ""},
          {5000, Fails, "", Failed, ""}, {5100, Nothing, "", Failed, ""},
          {8099, Nothing, "", Failed, ""}, {8100, Sees, "U1", Failed, ""}, {30000, Sees, "U1", Failed, ""}}},
        {"removal once nothing has shown for the grace, from the first empty survey",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""}, {100, Passes, "", Passed, ""},
          {1000, Sees, "U1", Passed, ""}, {2000, Nothing, "", Passed, ""},
          {4999, Nothing, "", Passed, ""}, {5000, Nothing, "", Empty, "removed"},
          {6000, Nothing, "", Empty, ""}, {7000, Sees, "U1", Arrived, "new start"}}},
        {"another serial number is a new unit at once",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""}, {100, Fails, "", Failed, ""},
          {200, Nothing, "", Failed, ""}, {900, Sees, "U2", Arrived, "removed new start"},
          {950, Sees, "U3", Arrived, "removed new start"}}},
        {"arrives in its bootloader without a serial number, tells it later",
         {{0, Sees, "", Arrived, "new start"}, {10, Starts, "", Running, ""},
          {2000, Sees, "U1", Running, ""}, {3000, Passes, "", Passed, ""},
          {3100, Sees, "U1", Passed, ""}, {3200, Sees, "", Passed, ""},
          {3300, Sees, "U2", Arrived, "removed new start"}}},
        {"not served: never run, gone after the (shorter) grace",
         {{0, Sees, "U1", NotServed, "new", "a dongle: this command updates controllers"},
          {10, Starts, "", NotServed, ""}, {20, Passes, "", NotServed, ""},
          {100, Nothing, "", NotServed, ""}, {599, Nothing, "", NotServed, ""},
          {600, Nothing, "", Empty, "removed"}},
         std::chrono::milliseconds(500)},
        {"gone during the run past the grace, then back: judged at the end",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""},
          {1000, Nothing, "", Running, ""}, {9000, Nothing, "", Running, ""},
          {9500, Sees, "U1", Running, ""}, {10000, Passes, "", Passed, ""}}},
        {"gone during the run and not back: removed at its end",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""},
          {1000, Nothing, "", Running, ""}, {4000, Nothing, "", Running, ""},
          {4500, Fails, "", Empty, "removed"}}},
        {"a new unit during the run: never the old one's result",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""},
          {1000, Sees, "U2", Running, ""}, {2000, Passes, "", Arrived, "removed new start"},
          {2010, Starts, "", Running, ""}}},
        {"a unit replaced by one the command does not serve",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""}, {10, Passes, "", Passed, ""},
          {20, Sees, "U2", NotServed, "removed new", "already up to date"},
          {30, Sees, "U3", Arrived, "removed new start"}}},
        {"its command gave it a new serial number (-S): still the same unit",
         {{0, Sees, "U1", Arrived, "new start"}, {0, Starts, "", Running, ""},
          {100, Passes, "U9", Passed, ""}, {200, Sees, "U9", Passed, ""},
          {250, Sees, "U1", Passed, ""}, {300, Sees, "U2", Arrived, "removed new start"},
          {400, Sees, "U1", Arrived, "removed new start"}}},
    };
    const auto t0 = std::chrono::steady_clock::time_point() + std::chrono::hours(1);
    for (const SlotRow& row : rows) {
        SlotStateMachine slot(row.grace);
        std::string why;
        for (const SlotStep& step : row.steps) {
            SCOPED_TRACE(row.what + ", at " + std::to_string(step.ms) + " ms");
            const auto now = t0 + std::chrono::milliseconds(step.ms);
            SlotEvents events;
            switch (step.what) {
                case SlotStep::Sees:
                    why = step.whyNotServed;
                    events = slot.Surveyed(now, DeviceAtPort{step.serial, why.empty(), why});
                    break;
                case SlotStep::SeesNothing: events = slot.Surveyed(now, std::nullopt); break;
                case SlotStep::Starts: events = slot.WorkerStarted(now); break;
                case SlotStep::Passes: events = slot.WorkerEnded(now, true, step.serial); break;
                case SlotStep::Fails: events = slot.WorkerEnded(now, false, step.serial); break;
            }
            EXPECT_EQ(SlotStateName(slot.State()), SlotStateName(step.after));
            EXPECT_EQ(Said(events), step.events);
            EXPECT_EQ(slot.WhyNotServed(), step.after == NotServed ? why : "");
        }
    }
}

}  // namespace
