// The progress bar as a separate process shows it (POSIX only): on a
// pseudo-terminal beside the tool's own lines and marks, which read exactly
// as on pipes; and release artefacts that cannot be written (a full disk).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/Bytes.h"
#include "testsupport/Console.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/TempFiles.h"
#include "testsupport/posix/ChildProcess.h"

namespace {

// Runs the simulated-device build, with a controller plugged in, in a child
// whose output goes to a pseudo terminal or to pipes.
const Environment kController = {{"QUORL_SIM_DEVICES", "controller"}};

ChildOutput ToolOnTerminal(const std::vector<std::string>& args) {
    return RunOnTerminal(QUORL_SIM_APP, args, kController, 100);
}

// Standard output goes to the given file instead of a pipe when one is named.
ChildOutput ToolOnPipes(const std::vector<std::string>& args, const char* outputFile = nullptr) {
    return RunOnPipes(QUORL_SIM_APP, args, kController, outputFile);
}

std::string Normalised(std::string terminalText) {
    std::string text;
    for (char c : terminalText) {
        if (c != '\r') {
            text += c;
        }
    }
    return text;
}

TEST(ConsoleProgressProcess, TerminalShowsTheBarAndPipesShowTheSameLinesWithout) {
    TempFile image(ControllerImage::Pattern(30000).file);
    const ChildOutput piped = ToolOnPipes({image.Path()});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\033'), std::string::npos);

    const ChildOutput terminal = ToolOnTerminal({image.Path()});
    EXPECT_EQ(terminal.status, 0);
    EXPECT_NE(terminal.out.find("100%  30000/30000 bytes"), std::string::npos);
    // Once the bar's drawing is taken away, the terminal reads as the pipe.
    EXPECT_EQ(WithoutProgressBar(Normalised(terminal.out)), piped.out);
}

TEST(ConsoleProgressProcess, SwdMarksReadAsBeforeBesideTheBar) {
    TempFile app(PatternBytes(5000));
    const ChildOutput piped = ToolOnPipes({"-s", app.Path()});
    EXPECT_EQ(piped.status, 0);
    EXPECT_NE(piped.out.find("\n....\nRadio Update Complete.  Rebooting\n"), std::string::npos)
        << piped.out;
    const ChildOutput terminal = ToolOnTerminal({"-s", app.Path()});
    EXPECT_EQ(terminal.status, 0);
    EXPECT_NE(terminal.out.find("bytes"), std::string::npos);
    EXPECT_EQ(WithoutProgressBar(Normalised(terminal.out)), piped.out);
}

// What a script sees of two compact "-s" command lines that must change
// nothing: the address forgotten (the SoftDevice's name in its place), and
// a file that reports size 0 but holds text. Status 255 and the reason.
TEST(ConsoleProgressProcess, CompactReflashRefusedBeforeTheControllerIsOpened) {
    TempFile softDevice(PatternBytes(300, 3), "_softdevice.bin");
    TempFile application(PatternBytes(100, 4), "_radio_app.bin");
    const ChildOutput forgotten = RunOnPipes(
        QUORL_SIM_COMPACT_APP, {"-s", softDevice.Path(), application.Path()}, kController);
    EXPECT_EQ(forgotten.status, 255);
    EXPECT_EQ(forgotten.out, "Updating radio firmware\nAttempting to update via USB...\n"
                             "ERROR: Application address " + softDevice.Path() +
                                 " is not a number\n");
    EXPECT_EQ(forgotten.err, "");

    const ChildOutput sizeZero =
        RunOnPipes(QUORL_SIM_COMPACT_APP, {"-s", "1000", "/proc/version"}, kController);
    EXPECT_EQ(sizeZero.status, 255);
    EXPECT_EQ(sizeZero.out, "Updating radio firmware\nAttempting to update via USB...\n"
                            "ERROR: Application programming failed\n");
    EXPECT_EQ(sizeZero.err, "Unable to open: /proc/version\n");
}

// A release script must not take a checksum, header line or manifest that
// never reached standard output (a full disk) for a success.
TEST(ConsoleProgressProcess, ReleaseArtefactThatCannotBeWrittenFails) {
    TempFile image(PatternBytes(9000), "_module.bin");
    for (const auto& args : {std::vector<std::string>{"-c", image.Path()},
                             std::vector<std::string>{"-C", image.Path()},
                             std::vector<std::string>{"-v", image.Path(), "1500000000"}}) {
        const ChildOutput full = ToolOnPipes(args, "/dev/full");
        EXPECT_EQ(full.status, 1) << args[0];
        EXPECT_EQ(full.err, "Error: Unable to write standard output\n") << args[0];
    }
}

}  // namespace
