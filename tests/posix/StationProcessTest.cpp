// quorl-station as its users run it: a process whose workers are processes,
// over a simulated bench that the station and each worker load alike
// (QUORL_SIM_DEVICES). Each row is a bench, a command and what every unit's
// record must say; the hazard the station exists for comes first: a unit
// already in its bootloader beside one in its application.
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "testsupport/Bytes.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/TempFiles.h"
#include "testsupport/Transcript.h"
#include "testsupport/posix/ChildProcess.h"

namespace {

// The simulator's name of hub port n on Linux.
std::string Port(int n) { return "usb-0000:00:14.0-" + std::to_string(n); }

struct StationRun {
    ChildOutput output;
    std::vector<nlohmann::json> records;  // the log, a record a line
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

StationRun RunStationOn(const std::string& devices, const std::vector<std::string>& args,
                        Environment environment = {}) {
    const std::string log = TempPath(".jsonl");
    std::vector<std::string> words = {"--log", log};
    words.insert(words.end(), args.begin(), args.end());
    environment["QUORL_SIM_DEVICES"] = devices;
    StationRun run;
    run.output = RunOnPipes(QUORL_SIM_STATION, words, environment);
    run.records = ReadRecords(log);
    std::remove(log.c_str());
    for (const nlohmann::json& record : run.records) {
        run.byPort[record.value("port", "")] = record;
    }
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
        BenchRow{"ComesBackAtAnotherPort", "controller:comes-back-at=7", {},
                 {{1, "failed", "came back at another port: " + Port(7), ""}}, 1},
        BenchRow{"SerialsDifferBetweenModes", "controller:serial=QA1:bootloader-serial=QZ9", {},
                 {{1, "failed",
                   "serial number QZ9 at port " + Port(1) +
                       " differs from the unit's serial number QA1",
                   "1002"}},
                 1},
        // Unplugged in the middle of its transfer; the other unit goes on.
        BenchRow{"UnpluggedWhileOthersGoOn", "controller:unplug-after=20,controller", {"--all"},
                 {{1, "failed", "Error updating firmware.", ""}, {2, "succeeded", "", "1102"}}, 1},
        BenchRow{"WorkerCrashes", "controller:die-after=20,controller", {"--all"},
                 {{1, "failed", "its worker was killed by signal 6 (Aborted)", ""},
                  {2, "succeeded", "", "1102"}},
                 1},
        BenchRow{"DeviceStopsAnswering", "controller:hang-after=20", {},
                 {{1, "failed", "no answer for 2 s", ""}}, 1,
                 {{"QUORL_SIM_NO_ANSWER_MS", "2000"}}},
        BenchRow{"NeverComesBackFromItsReboot", "controller:reboot-delay=100000", {},
                 {{1, "failed", "Error opening device.", ""}}, 1},
        BenchRow{"PortsNamed", "controller,controller,controller",
                 {"--port", Port(3), Port(1)},
                 {{3, "succeeded", "", "1102"}, {1, "succeeded", "", "1102"}}, 0}),
    [](const ::testing::TestParamInfo<BenchRow>& info) { return std::string(info.param.name); });

// Selections that name no unit, or more than one that could be meant, and a
// log that cannot be written: refused before any unit starts (no record).
TEST(StationSelection, RefusedBeforeAnyUnitStarts) {
    const TempFile image(ControllerImage::Pattern(1000).file);
    struct Row {
        std::vector<std::string> options;
        std::string devices;
        int status;
        Transcript errLines;
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
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"--", image.Path()});
        const StationRun run = RunStationOn(row.devices, args);
        EXPECT_EQ(run.output.status, row.status) << row.devices;
        EXPECT_EQ(Lines(run.output.err), row.errLines);
        EXPECT_TRUE(run.records.empty());
    }
    const ChildOutput unwritable = RunOnPipes(
        QUORL_SIM_STATION, {"--log", "/proc/version/log", "--", image.Path()},
        {{"QUORL_SIM_DEVICES", "controller"}});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_EQ(Lines(unwritable.err),
              Transcript{"quorl-station: cannot write the log /proc/version/log: Not a directory"});
    EXPECT_EQ(unwritable.out, "");
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
    EXPECT_EQ(record["words"], nlohmann::json::array({file.Path()}));
    EXPECT_EQ(record["serialsSeen"], nlohmann::json::array({"QA1"}));
    EXPECT_EQ(record["productIdsSeen"], nlohmann::json::array({"1102", "1002"}));
    EXPECT_EQ(record["exitStatus"], 0);
    EXPECT_EQ(record["lines"].size(), 8u);
    EXPECT_EQ(record["lines"][7], (nlohmann::json{{"stream", "stdout"},
                                                  {"text", "Successfully updated firmware."}}));
    ASSERT_EQ(record["images"].size(), 1u);
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

// On a terminal: a live row per unit, then the summary table.
TEST(StationOutput, TerminalShowsRowsThenTheSummary) {
    const TempFile file(ControllerImage::Pattern(1000).file);
    const ChildOutput output = RunOnTerminal(QUORL_SIM_STATION, {"--all", "--", file.Path()},
                                             {{"QUORL_SIM_DEVICES", "controller,controller"}}, 100);
    EXPECT_EQ(output.status, 0);
    // Each unit's row, redrawn in place (two rows up) until it says how it ended.
    EXPECT_NE(output.out.find("\033[2A\r" + Port(1) + "  QC7F0012  succeeded"), std::string::npos)
        << output.out;
    EXPECT_NE(output.out.find("\n" + Port(2) + "  QC7F0013  succeeded"), std::string::npos);
    EXPECT_NE(output.out.find("2 units: 2 succeeded, 0 failed"), std::string::npos);
    EXPECT_EQ(output.out.find(Port(1) + ": "), std::string::npos);
}

// Ctrl+C: no more units start, the running one finishes its command, every
// unit is recorded, and the status is 1.
TEST(StationInterrupt, RunningUnitFinishesOthersAreNotStarted) {
    const TempFile file(ControllerImage::Pattern(1000).file);
    const std::string log = TempPath(".jsonl");
    const pid_t child = fork();
    if (child == 0) {
        setenv("QUORL_SIM_DEVICES", "controller,controller,controller", 1);
        setenv("QUORL_SIM_REALTIME", "1", 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(QUORL_SIM_STATION, QUORL_SIM_STATION, "--all", "--jobs", "1", "--log", log.c_str(),
              "--", file.Path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // The first unit takes over 3 s on the wall clock: by then its worker is
    // in the middle of its command, and the others wait their turn.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::vector<nlohmann::json> records = ReadRecords(log);
    std::remove(log.c_str());
    ASSERT_EQ(records.size(), 3u);
    std::map<std::string, std::string> outcomes;
    for (const nlohmann::json& record : records) {
        outcomes[record["port"]] = record["outcome"];
    }
    EXPECT_EQ(outcomes, (std::map<std::string, std::string>{
                            {Port(1), "succeeded"}, {Port(2), "not started"}, {Port(3), "not started"}}));
}

}  // namespace
