// The usage text and the exit statuses of the front end's own answers.
#include <gtest/gtest.h>

#include "app/Usage.h"
#include "testsupport/RunTool.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

const Transcript kStandardUsage = UsageLines("QuorlFirmwareUpdateApp", Edition::Standard);

class Usage : public SimTest {};

TEST_F(Usage, BareStartPrintsElevenLinesAndFails) {
    const RunResult run = RunTool({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), kStandardUsage);
    EXPECT_EQ(run.err, "");
}

TEST_F(Usage, HelpSucceedsWithOneWordAtMost) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-h"}, {"-h", "more"}}) {
        const RunResult help = RunTool(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.OutLines(), kStandardUsage);
        EXPECT_EQ(help.err, "");
    }
    const RunResult tooMany = RunTool({"-h", "a", "b"});
    EXPECT_EQ(tooMany.status, 1);
    EXPECT_EQ(tooMany.OutLines(), kStandardUsage);
}

TEST_F(Usage, CompactEditionDiffersInTheReflashEntryOnly) {
    Transcript expected = kStandardUsage;
    expected[1] =
        "usage: QuorlFirmwareUpdateApp -s [softdevice_filename] <application_offset, e.g. "
        "\"98304\"> <application_filename>";
    EXPECT_EQ(RunTool({"-s", "app.bin"}, Edition::Compact).OutLines(), expected);
}

TEST_F(Usage, UnmatchedCommandLinesPrintUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-d"}, {"-R", "x"}, {"-c", "a", "b"}, {"-v", "fw"}, {"-s", "a", "b"}, {"x", "y"}}) {
        const RunResult run = RunTool(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.OutLines(), kStandardUsage);
        EXPECT_EQ(run.err, "");
    }
}

TEST(ProgramName, IsWhatFollowsTheLastSeparator) {
    EXPECT_EQ(ProgramName("/usr/bin/QuorlFirmwareUpdateApp"), "QuorlFirmwareUpdateApp");
    EXPECT_EQ(ProgramName("C:\\tools\\Quorl.exe"), "Quorl.exe");
    EXPECT_EQ(ProgramName("dir\\sub/tool"), "tool");
    EXPECT_EQ(ProgramName("tool"), "tool");
    EXPECT_EQ(ProgramName("tools/"), "");
}

}  // namespace
