// quorl-station as its users run it: a process whose workers are processes,
// over a simulated bench that the station and each worker load alike
// (QUORL_SIM_DEVICES). Each row is a bench, a command and what every unit's
// record must say; the hazard the station exists for comes first: a unit
// already in its bootloader beside one in its application.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/process/PortClaim.h"
#include "testsupport/Bytes.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/TempFiles.h"
#include "testsupport/Transcript.h"
#include "testsupport/posix/ChildProcess.h"

namespace {

// The simulator's name of hub port n on Linux.
std::string Port(int n) { return "usb-0000:00:14.0-" + std::to_string(n); }

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct StationRun {
    ChildOutput output;
    nlohmann::json run;                   // the log's record of the run itself
    std::vector<nlohmann::json> records;  // the units' records, in the log's order
    std::map<std::string, nlohmann::json> byPort;
};

std::vector<nlohmann::json> ReadRecords(const std::string& path) {
    std::vector<nlohmann::json> records;
    std::ifstream log(path);
    for (std::string line; std::getline(log, line);) {
        records.push_back(nlohmann::json::parse(line));
    }
    return records;
}

// Port claims of their own, so that tests run side by side never meet (a
// test that claims a port itself passes its own directory).
StationRun RunStationOn(const std::string& devices, const std::vector<std::string>& args,
                        Environment environment = {}) {
    const TempDirectory claims;
    const std::string log = TempPath(".jsonl");
    std::vector<std::string> words = {"--log", log};
    words.insert(words.end(), args.begin(), args.end());
    environment["QUORL_SIM_DEVICES"] = devices;
    environment.emplace("QUORL_PORT_CLAIMS", claims.Path());
    StationRun run;
    run.output = RunOnPipes(QUORL_SIM_STATION, words, environment);
    for (nlohmann::json& record : ReadRecords(log)) {
        if (record.value("kind", "") == "run") {
            run.run = std::move(record);
        } else {
            run.byPort[record.value("port", "")] = record;
            run.records.push_back(std::move(record));
        }
    }
    std::remove(log.c_str());
    return run;
}

// What one unit's record must say.
struct UnitExpectation {
    int port;
    std::string outcome;
    std::string reason;         // empty: none (null)
    std::string productIdAfter; // empty: none (null)
};

struct BenchRow {
    const char* name;
    std::string devices;
    std::vector<std::string> options;  // before "--"
    std::vector<UnitExpectation> units;
    int status;
    Environment environment = {};
};

void PrintTo(const BenchRow& row, std::ostream* os) { *os << row.name; }

class StationBench : public ::testing::TestWithParam<BenchRow> {};

TEST_P(StationBench, EveryUnitIsRecordedWithItsOwnOutcome) {
    const BenchRow& row = GetParam();
    const ControllerImage image = ControllerImage::Pattern(3000, 7);
    const TempFile file(image.file);
    std::vector<std::string> args = row.options;
    args.insert(args.end(), {"--", file.Path()});
    const StationRun run = RunStationOn(row.devices, args, row.environment);
    SCOPED_TRACE(run.output.out + run.output.err);
    EXPECT_EQ(run.output.status, row.status);
    ASSERT_EQ(run.records.size(), row.units.size());
    for (const UnitExpectation& unit : row.units) {
        SCOPED_TRACE(Port(unit.port));
        ASSERT_EQ(run.byPort.count(Port(unit.port)), 1u);
        const nlohmann::json& record = run.byPort.at(Port(unit.port));
        EXPECT_EQ(record["outcome"], unit.outcome);
        EXPECT_EQ(record["reason"], unit.reason.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(unit.reason));
        EXPECT_EQ(record["productIdAfter"], unit.productIdAfter.empty()
                                                ? nlohmann::json(nullptr)
                                                : nlohmann::json(unit.productIdAfter));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StationBench,
    ::testing::Values(
        // Unit 1 restarts into its bootloader while unit 2 already waits in
        // its own: each gets its own update, and unit 1 comes back as its
        // application (given to unit 2, its update would leave it waiting).
        BenchRow{"OneAlreadyInItsBootloader", "controller:serial=QA1,controller-bootloader:serial=QB2",
                 {"--all"},
                 {{1, "succeeded", "", "1102"}, {2, "succeeded", "", "1102"}}, 0},
        // Only the unit's own port decides; a device elsewhere is named only
        // when it carries the unit's serial number.
        BenchRow{"ComesBackAtAnotherPort", "controller:comes-back-at=7", {},
                 {{1, "failed",
                   "did not come back at " + Port(1) +
                       "; a device with its serial number appeared at " + Port(7),
                   ""}},
                 1},
        BenchRow{"SerialsDifferBetweenModes", "controller:serial=QA1:bootloader-serial=QZ9", {},
                 {{1, "failed",
                   "serial number QZ9 at port " + Port(1) +
                       " differs from the unit's serial number QA1",
                   "1002"}},
                 1},
        // Unplugged in the middle of its transfer; the other unit goes on.
        BenchRow{"UnpluggedWhileOthersGoOn", "controller:unplug-after=20,controller", {"--all"},
                 {{1, "failed", "did not come back at " + Port(1), ""}, {2, "succeeded", "", "1102"}}, 1},
        BenchRow{"WorkerCrashes", "controller:die-after=20,controller", {"--all"},
                 {{1, "failed", "its worker was killed by signal 6 (Aborted)", ""},
                  {2, "succeeded", "", "1102"}},
                 1},
        BenchRow{"DeviceStopsAnswering", "controller:hang-after=20", {},
                 {{1, "failed", "no answer for 2 s", ""}}, 1,
                 {{"QUORL_SIM_NO_ANSWER_MS", "2000"}}},
        BenchRow{"NeverComesBackWhileAnotherArrives",
                 "controller:reboot-delay=100000,controller:appear-at=1000:serial=QZZ", {},
                 {{1, "failed", "did not come back at " + Port(1), ""}}, 1},
        BenchRow{"SerialCheckOff", "controller:serial=QA1:bootloader-serial=QZ9",
                 {"--no-serial-check"}, {{1, "succeeded", "", "1102"}}, 0},
        BenchRow{"PortsNamed", "controller,controller,controller",
                 {"--port", Port(3), Port(1)},
                 {{3, "succeeded", "", "1102"}, {1, "succeeded", "", "1102"}}, 0}),
    [](const ::testing::TestParamInfo<BenchRow>& info) { return std::string(info.param.name); });

// Selections that name no unit, or more than one that could be meant, and a
// log that cannot be written: refused before any unit starts (no record).
TEST(StationSelection, RefusedBeforeAnyUnitStarts) {
    const TempFile image(ControllerImage::Pattern(1000).file);
    const TempFile radioImage(ControllerImage::Pattern(1000).file, "_module.bin");
    struct Row {
        std::vector<std::string> options;
        std::string devices;
        int status;
        Transcript errLines;
        std::vector<std::string> words = {};  // the tool's; none: the image
    };
    const std::vector<Row> rows = {
        {{}, "controller,controller-bootloader", 2,
         {"quorl-station: 2 units could be meant; name them with --port or --serial, or take "
          "them all with --all:",
          "  " + Port(1) + "  controller application, serial QC7F0012",
          "  " + Port(2) + "  controller bootloader, serial QC7F0013"}},
        {{"--port", Port(4)}, "controller", 2,
         {"quorl-station: no unit that this command serves is at port " + Port(4) +
              "; the units it serves:",
          "  " + Port(1) + "  controller application, serial QC7F0012"}},
        {{"--serial", "QX"}, "controller:serial=QA1", 2,
         {"quorl-station: no unit that this command serves has serial number QX; the units "
          "it serves:",
          "  " + Port(1) + "  controller application, serial QA1"}},
        {{"--all"}, "dongle-bootloader", 1,
         {"quorl-station: no unit that this command serves is connected"}},
        // A dongle's wireless route may reach a controller of the same run.
        {{"--all"}, "dongle-app,controller", 2,
         {"quorl-station: a radio image through a dongle reaches the controller paired with "
          "it, which may be a unit of this run too: run the dongles and the controllers apart "
          "(name them with --port or --serial)"},
         {radioImage.Path()}},
        // One serial number is never written into several units.
        {{"--all"}, "controller-bootloader,controller-bootloader", 2,
         {"quorl-station: -S would write one serial number into 2 units; select one of them "
          "with --port or --serial:",
          "  " + Port(1) + "  controller bootloader, serial QC7F0012",
          "  " + Port(2) + "  controller bootloader, serial QC7F0013"},
         {"-S", "QC7F0099"}},
    };
    // A bench: its map and its serial numbers are checked before any unit.
    const TempFile badMap(TextBytes("name = \"B\"\n[[slot]]\nlabel = \"A1\"\nport = \"usb-0000:00:14.0-1\"\n"
                                    "[[slot]]\nlabel = \"A1\"\nport = \"usb-0000:00:14.0-2\"\n"),
                          ".toml");
    const TempFile map(TextBytes("name = \"B\"\n[[slot]]\nlabel = \"A1\"\nport = \"usb-0000:00:14.0-1\"\n"
                                 "[[slot]]\nlabel = \"A2\"\nport = \"usb-0000:00:14.0-2\"\n"),
                       ".toml");
    const std::vector<Row> benchRows = {
        {{"--bench", badMap.Path()}, "controller", 2,
         {"quorl-station: the bench map " + badMap.Path() + ":6: label \"A1\" is already on line 3"}},
        {{"--bench", map.Path(), "--slot", "B9"}, "controller", 2,
         {"quorl-station: no slot B9 in the bench map " + map.Path() + "; its slots: A1 A2"}},
        {{}, "controller-bootloader", 2,
         {"quorl-station: the command names {serial}: say where each unit's serial number comes "
          "from with --serials FIRST or --serials-from FILE"},
         {"-S", "{serial}"}},
        {{"--serials", "QC7F1000"}, "controller-bootloader", 2,
         {"quorl-station: --serials and --serials-from give each unit its own serial number for "
          "-S {serial}: the command does not name {serial}"},
         {"-S", "QC7F0099"}},
        {{"--serials", "QC7F"}, "controller-bootloader", 2,
         {"quorl-station: \"QC7F\" does not end in digits to count up"}, {"-S", "{serial}"}},
        {{"--continuous"}, "controller-bootloader", 2,
         {"quorl-station: -S with one serial number would write it into every unit that arrives; "
          "give each its own: -S {serial} with --serials FIRST or --serials-from FILE"},
         {"-S", "QC7F0099"}},
        {{"--continuous", "--dashboard", "0"}, "controller", 2,
         {"quorl-station: the page shows the slots of a bench: name its map with --bench FILE "
          "(quorl-station --learn-bench FILE --slots ... writes one)"}},
    };
    std::vector<Row> all = rows;
    all.insert(all.end(), benchRows.begin(), benchRows.end());
    for (const Row& row : all) {
        std::vector<std::string> args = row.options;
        args.push_back("--");
        if (row.words.empty()) {
            args.push_back(image.Path());
        }
        args.insert(args.end(), row.words.begin(), row.words.end());
        const StationRun run = RunStationOn(row.devices, args);
        EXPECT_EQ(run.output.status, row.status) << row.devices;
        EXPECT_EQ(Lines(run.output.err), row.errLines);
        // Refused before the log is opened: not even the run's record.
        EXPECT_TRUE(run.records.empty());
        EXPECT_TRUE(run.run.is_null());
    }
    const ChildOutput unwritable = RunOnPipes(
        QUORL_SIM_STATION, {"--log", "/proc/version/log", "--", image.Path()},
        {{"QUORL_SIM_DEVICES", "controller"}});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_EQ(Lines(unwritable.err),
              Transcript{"quorl-station: cannot write the log /proc/version/log: Not a directory"});
    EXPECT_EQ(unwritable.out, "");
    // A FIFO or a device would take the records nowhere, or block the
    // station forever waiting for a reader.
    const TempDirectory directory;
    const std::string fifo = directory.Path() + "/log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/null")}) {
        const ChildOutput refused = RunOnPipes(QUORL_SIM_STATION, {"--log", path, "--", image.Path()},
                                               {{"QUORL_SIM_DEVICES", "controller"}});
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(Lines(refused.err),
                  Transcript{"quorl-station: cannot write the log " + path + ": not a regular file"});
    }
}

// A worker sends nothing to its unit when another station holds the unit's
// port, or when an image is no longer the one the station read at its start.
TEST(StationWorker, SendsNothingWhenThePortIsClaimedOrTheImageChanged) {
    const TempFile image(ControllerImage::Pattern(1000).file);
    const TempDirectory claims;
    ASSERT_EQ(setenv("QUORL_PORT_CLAIMS", claims.Path().c_str(), 1), 0);
    long holder = 0;
    std::string error;
    const std::unique_ptr<platform::PortClaim> claim =
        platform::PortClaim::Take(Port(1), holder, error);
    unsetenv("QUORL_PORT_CLAIMS");
    ASSERT_NE(claim, nullptr) << error;
    const StationRun held = RunStationOn("controller", {"--", image.Path()},
                                         {{"QUORL_PORT_CLAIMS", claims.Path()}});
    EXPECT_EQ(held.output.status, 1);
    ASSERT_EQ(held.records.size(), 1u);
    EXPECT_EQ(held.records[0]["reason"], Port(1) + " is in use by another station (pid " +
                                             std::to_string(getpid()) + ")");
    EXPECT_EQ(held.records[0]["lines"], nlohmann::json::array());

    // The worker as the station starts it, told another SHA-256 than the
    // file's bytes have now: its one word is its refusal.
    const ChildOutput changed = RunOnPipes(
        QUORL_SIM_STATION,
        {"--worker", "--unit-port=" + Port(1), "--image-sha256=" + std::string(64, '0'), "--",
         image.Path()},
        {{"QUORL_SIM_DEVICES", "controller"}, {"QUORL_PORT_CLAIMS", claims.Path() + "/w"}});
    EXPECT_EQ(changed.status, 1);
    const Transcript said = Lines(changed.out);
    ASSERT_EQ(said.size(), 1u) << changed.out;
    ASSERT_EQ(said[0].substr(0, 2), "U ");
    const nlohmann::json facts = nlohmann::json::parse(said[0].substr(2));
    EXPECT_EQ(facts["refusal"], "the image " + image.Path() + " changed since the station started");
}

// Not on a terminal: every line of the tool, whole, behind its unit's port,
// then the summary; the record holds the command, the image and its sums.
TEST(StationOutput, LinesBehindTheirPortThenTheSummaryAndAFullRecord) {
    const ControllerImage image = ControllerImage::Pattern(2000, 3);
    const TempFile file(image.file);
    const StationRun run = RunStationOn("controller:serial=QA1", {"--", file.Path()});
    ASSERT_EQ(run.output.status, 0) << run.output.err;
    const std::string p = Port(1) + ": ";
    const Transcript out = Lines(run.output.out);
    ASSERT_GE(out.size(), 12u);
    EXPECT_EQ(Transcript(out.begin(), out.begin() + 8),
              (Transcript{p + "Updating controller firmware", p + "Sent reboot into bootloader.",
                          p + "Attempting to update via bootloader...",
                          p + "Image checksum: " + HexDigits(image.Checksum()),
                          p + "Starting firmware update...", p + "Transfering data...",
                          p + "Verifying...", p + "Successfully updated firmware."}));
    EXPECT_EQ(out.back(), "1 unit: 1 succeeded, 0 failed");

    ASSERT_EQ(run.records.size(), 1u);
    const nlohmann::json& record = run.records[0];
    // The run's own record comes first and shares its ID with its units'.
    EXPECT_EQ(run.run["kind"], "run");
    EXPECT_EQ(run.run["selection"]["ports"], nlohmann::json::array({Port(1)}));
    EXPECT_EQ(run.run["leftOut"], nlohmann::json::array());
    EXPECT_EQ(record["kind"], "unit");
    ASSERT_TRUE(record["runId"].is_string());
    EXPECT_EQ(record["runId"].get<std::string>().size(), 32u);
    EXPECT_EQ(record["runId"], run.run["runId"]);
    EXPECT_EQ(record["stationVersion"], run.run["stationVersion"]);
    EXPECT_NE(record["stationVersion"], "");
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(record["host"], host);
    EXPECT_EQ(record["edition"], "standard");
    // The simulated controller's descriptor gives bcdDevice 0x0104, before and after.
    EXPECT_EQ(record["releaseBefore"], "1.04");
    EXPECT_EQ(record["releaseAfter"], "1.04");
    // Times in UTC to the millisecond, the end not before the start.
    const std::string started = record["started"];
    const std::string ended = record["ended"];
    EXPECT_EQ(started.size(), std::string("2026-01-01T00:00:00.000Z").size());
    EXPECT_EQ(started.back(), 'Z');
    EXPECT_LE(started, ended);
    EXPECT_EQ(record["words"], nlohmann::json::array({file.Path()}));
    EXPECT_EQ(record["serialsSeen"], nlohmann::json::array({"QA1"}));
    EXPECT_EQ(record["productIdsSeen"], nlohmann::json::array({"1102", "1002"}));
    EXPECT_EQ(record["exitStatus"], 0);
    EXPECT_EQ(record["lines"].size(), 8u);
    EXPECT_EQ(record["lines"][7], (nlohmann::json{{"stream", "stdout"},
                                                  {"text", "Successfully updated firmware."}}));
    ASSERT_EQ(record["images"].size(), 1u);
    EXPECT_EQ(record["images"][0]["path"], file.Path());
    EXPECT_EQ(record["images"][0]["size"], image.file.size());
    EXPECT_EQ(record["images"][0]["checksum128"], HexDigits(image.Checksum()));
    // SHA-256 from another implementation than the station's.
    std::string sha256(64, '\0');
    FILE* sum = popen(("sha256sum " + file.Path()).c_str(), "r");
    ASSERT_NE(sum, nullptr);
    ASSERT_EQ(std::fread(sha256.data(), 1, 64, sum), 64u);
    pclose(sum);
    EXPECT_EQ(record["images"][0]["sha256"], sha256);
}

// With --json, one object per unit on standard output and nothing else.
TEST(StationOutput, JsonIsOneObjectPerUnit) {
    const TempFile file(ControllerImage::Pattern(1000).file);
    const ChildOutput output = RunOnPipes(QUORL_SIM_STATION, {"--all", "--json", "--", file.Path()},
                                          {{"QUORL_SIM_DEVICES", "controller,controller"}});
    EXPECT_EQ(output.status, 0);
    const Transcript lines = Lines(output.out);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) {
        EXPECT_EQ(nlohmann::json::parse(line)["outcome"], "succeeded");
    }
}

// On a terminal: a live row per unit, then the summary table. An ended unit
// shows its outcome where its bar was, in colour unless NO_COLOR is set; on
// a narrow terminal the latest line gives way first, so outcome and time stay.
TEST(StationOutput, TerminalShowsRowsThenTheSummary) {
    const TempFile file(ControllerImage::Pattern(1000).file);
    const ChildOutput output = RunOnTerminal(QUORL_SIM_STATION, {"--all", "--", file.Path()},
                                             {{"QUORL_SIM_DEVICES", "controller,controller"}}, 100);
    EXPECT_EQ(output.status, 0);
    // Each unit's row, redrawn in place (two rows up) until it says how it ended.
    EXPECT_NE(output.out.find("\033[2A\r" + Port(1) + "  QC7F0012  succeeded"), std::string::npos)
        << output.out;
    EXPECT_NE(output.out.find("\n" + Port(2) + "  QC7F0013  succeeded"), std::string::npos);
    EXPECT_NE(output.out.find("\033[32mSUCCEEDED\033[0m"), std::string::npos);
    EXPECT_NE(output.out.find("2 units: 2 succeeded, 0 failed"), std::string::npos);
    EXPECT_EQ(output.out.find(Port(1) + ": "), std::string::npos);

    for (const bool noColour : {false, true}) {
        Environment environment = {{"QUORL_SIM_DEVICES", "controller:die-after=20"}};
        if (noColour) {
            environment["NO_COLOR"] = "1";
        }
        const ChildOutput narrow = RunOnTerminal(QUORL_SIM_STATION, {"--", file.Path()}, environment, 60);
        EXPECT_EQ(narrow.status, 1);
        // 59 columns hold the port (18), the serial (8), the outcome and the
        // time; the latest line gets what is left.
        const std::string failed = noColour ? "FAILED" : "\033[31mFAILED\033[0m";
        const std::size_t row = narrow.out.rfind("\r" + Port(1) + "  QC7F0012  ");
        ASSERT_NE(row, std::string::npos) << narrow.out;
        const std::string drawn = narrow.out.substr(row + 1, narrow.out.find('\n', row) - row - 1);
        EXPECT_NE(drawn.find(failed), std::string::npos) << drawn;
        EXPECT_NE(drawn.find(" s "), std::string::npos) << drawn;
        std::string visible = drawn;
        for (const std::string escape : {"\033[31m", "\033[0m", "\033[K", "\r"}) {
            for (std::size_t at; (at = visible.find(escape)) != std::string::npos;) {
                visible.erase(at, escape.size());
            }
        }
        EXPECT_LE(visible.size(), 59u) << visible;
        EXPECT_EQ(narrow.out.find("\033[3") == std::string::npos, noColour);
    }
}

// Ctrl+C, and SIGTERM or SIGHUP alike (a service manager, a terminal that
// closed): no more units start, the running one finishes its command even
// when asked again, every unit is recorded, and the status is 1.
TEST(StationInterrupt, RunningUnitFinishesOthersAreNotStarted) {
    const TempFile file(ControllerImage::Pattern(1000).file);
    const TempDirectory claims;
    for (const std::vector<int>& signals : {std::vector<int>{SIGINT}, std::vector<int>{SIGTERM, SIGHUP}}) {
        SCOPED_TRACE(strsignal(signals.front()));
        const std::string log = TempPath(".jsonl");
        const pid_t child = fork();
        if (child == 0) {
            setenv("QUORL_SIM_DEVICES", "controller,controller,controller", 1);
            setenv("QUORL_SIM_REALTIME", "1", 1);
            setenv("QUORL_PORT_CLAIMS", claims.Path().c_str(), 1);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            execl(QUORL_SIM_STATION, QUORL_SIM_STATION, "--all", "--jobs", "1", "--log", log.c_str(),
                  "--", file.Path().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(child, 0);
        // The first unit takes over 3 s on the wall clock: by then its worker
        // is in the middle of its command, and the others wait their turn.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        for (const int signal : signals) {
            kill(child, signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        std::map<std::string, std::string> outcomes;
        for (const nlohmann::json& record : ReadRecords(log)) {
            if (record["kind"] == "unit") {
                outcomes[record["port"]] = record["outcome"];
            }
        }
        std::remove(log.c_str());
        EXPECT_EQ(outcomes, (std::map<std::string, std::string>{{Port(1), "succeeded"},
                                                                {Port(2), "not started"},
                                                                {Port(3), "not started"}}));
    }
}

}  // namespace

namespace {

// A bench map of the slots, each at the simulator's hub port.
TempFile BenchMapFile(const std::vector<std::pair<std::string, int>>& slots) {
    std::string text = "name = \"Test bench\"\ncolumns = 2\n";
    for (const auto& [label, port] : slots) {
        text += "[[slot]]\nlabel = \"" + label + "\"\nport = \"" + Port(port) + "\"\n";
    }
    return TempFile(TextBytes(text), ".toml");
}

// The events of one kind or slot, as "event slot detail" lines, in order.
Transcript SlotStory(const std::vector<nlohmann::json>& events, const std::string& slot) {
    Transcript story;
    for (const nlohmann::json& event : events) {
        if (event.value("slot", "") != slot || event["event"] == "line" || event["event"] == "progress") {
            continue;
        }
        std::string line = event["event"].get<std::string>();
        if (event["event"] == "arrived" || event["event"] == "started") {
            line += " " + event.value("serial", std::string("-"));
        }
        if (event["event"] == "ended") {
            line += " " + event["outcome"].get<std::string>() + " " + event.value("reason", std::string());
        }
        story.push_back(line);
    }
    return story;
}

std::vector<nlohmann::json> EventsOf(const std::string& out) {
    std::vector<nlohmann::json> events;
    for (const std::string& line : Lines(out)) {
        events.push_back(nlohmann::json::parse(line));
    }
    return events;
}

}  // namespace

// A bench all shift: units arrive in the slots of a map and leave again. Each
// is run once in its slot; a unit already in its bootloader is served, and
// when it restarts into its application afterwards (gone from its port for
// less than the grace, back with its serial number) it is neither removed
// nor run again; a new unit in a slot is run at once, and a device at a port
// the map does not name is left alone with one notice. The shift ends with a
// stop request, as Ctrl+C. (Each worker drives a simulated world of its own:
// the station sees a unit's restarts only as the shift plays them.)
TEST(StationShift, EachUnitThatArrivesRunsOnceInItsSlot) {
    const TempFile image(ControllerImage::Pattern(1000).file);
    const TempFile map = BenchMapFile({{"A1", 1}, {"A2", 2}, {"B1", 3}, {"B2", 4}});
    const TempFile shift(TextBytes("at 0.2 plug controller port 1 serial QA1\n"
                                   "at 0.2 plug controller-bootloader port 2 serial QB1\n"
                                   "at 0.4 plug controller port 3 serial QF1 verify-status=1\n"
                                   "at 0.4 plug controller port 5 serial QX1\n"
                                   "at 0.5 plug dongle-bootloader port 4\n"
                                   "at 1.5 unplug port 2\n"
                                   "at 1.7 plug controller port 2 serial QB1\n"
                                   "at 2.0 unplug port 1\n"
                                   "at 2.1 plug controller port 1 serial QA2\n"
                                   "at 4 stop\n"),
                         ".txt");
    const StationRun run = RunStationOn(
        "none",
        {"--bench", map.Path(), "--continuous", "--removal-grace", "0.5", "--events", "--",
         image.Path()},
        {{"QUORL_SIM_SHIFT", shift.Path()}});
    SCOPED_TRACE(run.output.out + run.output.err);
    EXPECT_EQ(run.output.status, 0);
    const std::vector<nlohmann::json> events = EventsOf(run.output.out);
    EXPECT_EQ(SlotStory(events, "A1"), (Transcript{"arrived QA1", "started QA1", "ended succeeded ",
                                                   "removed", "arrived QA2", "started QA2",
                                                   "ended succeeded "}));
    EXPECT_EQ(SlotStory(events, "A2"), (Transcript{"arrived QB1", "started QB1", "ended succeeded "}));
    EXPECT_EQ(SlotStory(events, "B1"),
              (Transcript{"arrived QF1", "started QF1", "ended failed Error updating firmware."}));
    // A dongle is no unit for a controller image: shown, never run.
    EXPECT_EQ(SlotStory(events, "B2"), Transcript{"arrived -"});
    Transcript notices;
    for (const nlohmann::json& event : events) {
        if (event["event"] == "notice") {
            notices.push_back(event["text"]);
        } else if (event["event"] == "ended") {
            // The release after only from the firmware the unit arrived with,
            // never from the bootloader a failed update leaves it in.
            EXPECT_EQ(event.contains("release"), event["slot"] == "A1") << event.dump();
        } else if (event["event"] == "arrived" && event["slot"] == "B2") {
            EXPECT_EQ(event["served"], false);
            EXPECT_EQ(event["reason"], "dongle bootloader, which this command does not serve");
        }
    }
    EXPECT_EQ(notices, (Transcript{"quorl-station: left alone: " + Port(5) +
                                       ": controller application, serial QX1, at a port the bench "
                                       "map does not name",
                                   "quorl-station: stopping"}));
    // The log: every unit's record with its slot, and the last counters the same.
    Transcript slots;
    for (const nlohmann::json& record : run.records) {
        slots.push_back(record["slot"].get<std::string>() + " " + record["outcome"].get<std::string>());
    }
    std::sort(slots.begin(), slots.end());
    EXPECT_EQ(slots, (Transcript{"A1 succeeded", "A1 succeeded", "A2 succeeded", "B1 failed"}));
    EXPECT_EQ(run.run["continuous"], true);
    EXPECT_EQ(run.run["bench"]["name"], "Test bench");
    nlohmann::json counters;
    for (const nlohmann::json& event : events) {
        if (event["event"] == "counters") {
            counters = event;
        }
    }
    EXPECT_EQ(counters["passed"], 3);
    EXPECT_EQ(counters["failed"], 1);
    EXPECT_EQ(counters["yield"], 75.0);
}

// Serial numbers for a shift: each unit its own, counted up or taken from a
// list, never one twice across runs that share a log, and a unit whose
// serial number reads back otherwise fails.
TEST(StationSerials, EachUnitItsOwnNeverOneTwice) {
    const TempDirectory claims;
    const std::string log = TempPath(".jsonl");
    const auto given = [&](const std::string& devices, const std::vector<std::string>& source) {
        std::vector<std::string> args = {"--all", "--log", log};
        args.insert(args.end(), source.begin(), source.end());
        args.insert(args.end(), {"--", "-S", "{serial}"});
        const ChildOutput output = RunOnPipes(QUORL_SIM_STATION, args,
                                              {{"QUORL_SIM_DEVICES", devices},
                                               {"QUORL_PORT_CLAIMS", claims.Path()}});
        std::map<std::string, std::string> byPort;  // port: given, read back, outcome
        for (const nlohmann::json& record : ReadRecords(log)) {
            if (record["kind"] == "unit") {
                byPort[record["port"]] = record.value("serialGiven", "-") + " " +
                                         (record["serialReadBack"].is_string()
                                              ? record["serialReadBack"].get<std::string>()
                                              : "-") +
                                         " " + record["outcome"].get<std::string>();
            }
        }
        return std::make_pair(output, byPort);
    };
    const std::string two = "controller-bootloader:serial=QA1,controller-bootloader:serial=QA2";
    auto [first, firstUnits] = given(two, {"--serials", "QC7F0998"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(firstUnits, (std::map<std::string, std::string>{{Port(1), "QC7F0998 QC7F0998 succeeded"},
                                                              {Port(2), "QC7F0999 QC7F0999 succeeded"}}));
    // The same log: the count goes on past what was given, keeping its width.
    auto [second, secondUnits] = given(two, {"--serials", "QC7F0998"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(secondUnits[Port(1)], "QC7F1000 QC7F1000 succeeded");
    EXPECT_EQ(secondUnits[Port(2)], "QC7F1001 QC7F1001 succeeded");
    // A list: those already given are passed over; too few left is refused
    // before anything is sent.
    const TempFile list(TextBytes("# spare labels\nQC7F0999\nQL0001\n\nQL0002\n"), ".txt");
    auto [third, thirdUnits] = given(two, {"--serials-from", list.Path()});
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(thirdUnits[Port(1)], "QL0001 QL0001 succeeded");
    EXPECT_EQ(thirdUnits[Port(2)], "QL0002 QL0002 succeeded");
    auto [fourth, fourthUnits] = given(two, {"--serials-from", list.Path()});
    EXPECT_EQ(fourth.status, 2);
    EXPECT_EQ(Lines(fourth.err), Transcript{"quorl-station: 2 units, and 0 serial numbers left in " +
                                            list.Path() + ": nothing was sent"});
    // A unit that keeps its old serial number although it took the command.
    auto [lost, lostUnits] = given("controller-bootloader:serial=QA1:serial-write-lost=1",
                                   {"--serials", "QR0001"});
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lostUnits[Port(1)], "QR0001 QA1 failed");
    std::remove(log.c_str());

    // All shift: each unit that arrives gets the next one, once; a unit that
    // stays is not taken for a new one when it still gives its old number.
    const TempFile shift(TextBytes("at 0.2 plug controller-bootloader port 1 serial QA1\n"
                                   "at 0.2 plug controller-bootloader port 2 serial QA2\n"
                                   "at 2.5 stop\n"),
                         ".txt");
    const std::string shiftLog = TempPath(".jsonl");
    const ChildOutput shiftRun = RunOnPipes(
        QUORL_SIM_STATION,
        {"--continuous", "--log", shiftLog, "--serials", "QS0001", "--", "-S", "{serial}"},
        {{"QUORL_SIM_DEVICES", "none"}, {"QUORL_SIM_SHIFT", shift.Path()},
         {"QUORL_PORT_CLAIMS", claims.Path()}});
    EXPECT_EQ(shiftRun.status, 0) << shiftRun.err;
    Transcript shiftUnits;
    for (const nlohmann::json& record : ReadRecords(shiftLog)) {
        if (record["kind"] == "unit") {
            shiftUnits.push_back(record["port"].get<std::string>() + " " + record["serialGiven"].get<std::string>() +
                                 " " + record["outcome"].get<std::string>());
        }
    }
    EXPECT_EQ(shiftUnits, (Transcript{Port(1) + " QS0001 succeeded", Port(2) + " QS0002 succeeded"}));
    std::remove(shiftLog.c_str());
}

// Learning a bench map as an operator does it: one unit into each slot in
// turn, one taken out again; the map names the ports where they showed.
TEST(StationLearnBench, EachSlotIsThePortWhereItsUnitShowed) {
    const TempDirectory folder;
    const std::string map = folder.Path() + "/bench.toml";
    const TempFile shift(TextBytes("at 0.3 plug controller port 3 serial X1\n"
                                   "at 0.6 plug controller port 1 serial X2\n"
                                   "at 0.9 unplug port 3\n"
                                   "at 1.2 plug controller port 4 serial X3\n"),
                         ".txt");
    const ChildOutput output =
        RunOnPipes(QUORL_SIM_STATION, {"--learn-bench", map, "--slots", "A1", "A2", "A3", "--name", "Bench 7"},
                   {{"QUORL_SIM_DEVICES", "none"}, {"QUORL_SIM_SHIFT", shift.Path()}});
    EXPECT_EQ(output.status, 0) << output.err;
    EXPECT_EQ(Lines(output.out),
              (Transcript{"Plug a unit into slot A1", "Slot A1: " + Port(3), "Plug a unit into slot A2",
                          "Slot A2: " + Port(1), "Plug a unit into slot A3", "Slot A3: " + Port(4),
                          "Bench map of 3 slots written to " + map}));
    std::ifstream written(map);
    const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("name = \"Bench 7\""), std::string::npos) << text;
    EXPECT_LT(text.find(Port(3)), text.find(Port(1)));
    EXPECT_LT(text.find(Port(1)), text.find(Port(4)));
}
