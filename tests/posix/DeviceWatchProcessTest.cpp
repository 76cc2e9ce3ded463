// quorl-devices --watch as a process over a simulated shift (QUORL_SIM_SHIFT):
// what was there first, then each unit as the shift plugs it in and takes it
// out, until the shift's stop asks the program to stop as Ctrl+C does. The
// expected lines come from the shift.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "testsupport/TempFiles.h"
#include "testsupport/Transcript.h"
#include "testsupport/posix/ChildProcess.h"

namespace {

std::string Port(const std::string& hubPorts) { return "usb-0000:00:14.0-" + hubPorts; }

ChildOutput Watch(const std::string& shift, const std::vector<std::string>& args,
                  Environment environment = {}) {
    const TempFile file(Bytes(shift.begin(), shift.end()), ".shift");
    environment["QUORL_SIM_SHIFT"] = file.Path();
    std::vector<std::string> words = {"--watch"};
    words.insert(words.end(), args.begin(), args.end());
    return RunOnPipes(QUORL_SIM_DEVICES_PROGRAM, words, environment);
}

Transcript Lines(const std::string& text) {
    Transcript lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// A unit already on the bench, two plugged in together, one that restarts
// into its bootloader between two looks (gone and back at once, at the same
// port and node with the same serial number, under another product ID), one
// behind a hub that leaves with the end of the shift.
const std::string kShift =
    "# a short shift\n"
    "at 0.1 plug controller port 3 serial QC7F0100\n"
    "at 0.1 plug controller port 4 serial QC7F0101 verify-status=1   # fails its check\n"
    "\n"
    "at 0.3 unplug port 3\n"
    "at 0.3 plug controller-bootloader port 3 serial QC7F0100\n"
    "at 0.5 plug dongle-bootloader port 2.1\n"
    "at 0.6 unplug port 4\n"
    "at 0.6 unplug port 2.1\n"
    "at 0.6 stop\n";

TEST(DeviceWatchProcess, EachArrivalAndRemovalOfTheShiftUntilItsStop) {
    const ChildOutput run = Watch(kShift, {}, {{"QUORL_SIM_DEVICES", "tivane:at=7"}});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Lines(run.out),
              (Transcript{
                  "arrived  " + Port("7") + "  Tivane serial application  serial TV1C0093",
                  "arrived  " + Port("3") + "  controller application  serial QC7F0100",
                  "arrived  " + Port("4") + "  controller application  serial QC7F0101",
                  "removed  " + Port("3") + "  controller application  serial QC7F0100",
                  "arrived  " + Port("3") + "  controller bootloader  serial QC7F0100",
                  "arrived  " + Port("2.1") + "  dongle bootloader  serial -",
                  "removed  " + Port("4") + "  controller application  serial QC7F0101",
                  "removed  " + Port("2.1") + "  dongle bootloader  serial -",
              }));
}

TEST(DeviceWatchProcess, JsonLinesNameTheEventAndTheDevice) {
    const ChildOutput run = Watch(kShift, {"--json"}, {{"QUORL_SIM_SHIFT_SPEED", "2"}});
    EXPECT_EQ(run.status, 0) << run.err;
    const Transcript lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    const nlohmann::json first = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(first, nlohmann::json::parse(
                         R"({"event": "arrived", "kind": "controller", "state": "application",
                             "vendorId": "28de", "productId": "1102", "release": "1.04",
                             "serial": "QC7F0100", "product": "Quorl Wired Controller",
                             "path": "/dev/hidraw0", "port": ")" + Port("3") + "\"}"));
    // The unit back in its bootloader takes the node its application left.
    const nlohmann::json back = nlohmann::json::parse(lines[3]);
    EXPECT_EQ(back["event"], "arrived");
    EXPECT_EQ(back["productId"], "1002");
    EXPECT_EQ(back["path"], "/dev/hidraw0");
    const nlohmann::json last = nlohmann::json::parse(lines[6]);
    EXPECT_EQ(last["event"], "removed");
    EXPECT_EQ(last["serial"], nullptr);
    EXPECT_EQ(last["port"], Port("2.1"));
}

// A bad shift is named with its line before the program starts.
TEST(DeviceWatchProcess, BadShiftStopsTheProgramAtItsStart) {
    struct Row {
        std::string shift;
        std::string reason;  // after "QUORL_SIM_SHIFT: FILE:"
    };
    const std::vector<Row> rows = {
        {"at 1 plug controller port 3\nat 0.5 unplug port 3\n",
         "2: at 0.5 comes before an earlier line's time: the events go in the order of their times"},
        {"\n# nothing yet\nat 1 plug gizmo port 3\n", "3: unknown simulated device \"gizmo:at=3\""},
        {"at 1 plug controller port 3 busy\n",
         "1: \"busy\" is neither \"serial S\" nor a key=value setting"},
        {"at 1 plug controller port 3 bussy=2\n",
         "1: unknown setting \"bussy=2\" of simulated device controller"},
        {"at 1 plug controller port 3\nat 2 plug controller port 3\n",
         "2: port 3 holds the unit plugged in at line 1 until an unplug takes it out"},
        {"at soon stop\n", "1: \"soon\" is not a time in seconds, such as 6 or 0.5 (at most 1000000)"},
        {"at 1e300 stop\n", "1: \"1e300\" is not a time in seconds, such as 6 or 0.5 (at most 1000000)"},
        {"at 1 unplug port 1.x\n",
         "1: \"1.x\" is not a hub port: a port number from 1 to 255, or up to six of them "
         "joined by dots for a port behind hubs, such as 1.2.3"},
        {"at 1 stop\nat 2 stop\n", "2: an event after the stop at line 1"},
        {"at 1 unplug 3\n",
         "1: not an event: each line is \"at SECONDS plug KIND port P [serial S] "
         "[key=value...]\", \"at SECONDS unplug port P\" or \"at SECONDS stop\""},
    };
    for (const Row& row : rows) {
        const TempFile file(Bytes(row.shift.begin(), row.shift.end()), ".shift");
        const ChildOutput run = RunOnPipes(QUORL_SIM_DEVICES_PROGRAM, {"--watch"},
                                           {{"QUORL_SIM_SHIFT", file.Path()}});
        EXPECT_EQ(run.status, 2) << row.shift;
        EXPECT_EQ(run.out, "") << row.shift;
        EXPECT_EQ(run.err, "QUORL_SIM_SHIFT: " + file.Path() + ":" + row.reason + "\n");
    }
    // The sample shift of a rehearsal loads, and starts on an empty bench.
    const ChildOutput sample = RunOnPipes(QUORL_SIM_DEVICES_PROGRAM, {},
                                          {{"QUORL_SIM_SHIFT", QUORL_SAMPLES_DIR "/shift.txt"}});
    EXPECT_EQ(sample.err, "");
    EXPECT_EQ(sample.status, 1);
}

}  // namespace
