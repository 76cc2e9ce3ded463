// The progress bar: drawn on a terminal only, beside the tool's own lines and
// marks, which read exactly as without it; piped output never changes.
#include <string>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/posix/ChildProcess.h"
#include "tests/SimTest.h"

namespace {

// Removes the bar's drawing (saved cursor ... restored cursor) and its erasing
// (clear to end of line): what is left is what the user reads afterwards.
std::string WithoutBar(std::string text) {
    for (std::size_t start; (start = text.find("\0337")) != std::string::npos;) {
        const std::size_t end = text.find("\0338", start);
        text.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
    }
    for (std::size_t at; (at = text.find("\033[K")) != std::string::npos;) {
        text.erase(at, 3);
    }
    return text;
}

class ConsoleProgress : public SimTest {
protected:
    const ControllerImage image = ControllerImage::Pattern(20000);
};

TEST_F(ConsoleProgress, NothingIsDrawnWhenStandardErrorIsNotATerminal) {
    world.stderrIsTerminal = false;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(ConsoleProgress, BarReachesTheWholeImageAndIsErasedBeforeTheNextLine) {
    world.stderrIsTerminal = true;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find(" 100%  20000/20000 bytes"), std::string::npos) << run.err;
    // The last thing drawn is cleared again.
    EXPECT_EQ(run.err.substr(run.err.size() - 3), "\033[K");
    EXPECT_EQ(WithoutBar(run.err), "");
    // Standard output is the same as on a pipe.
    EXPECT_EQ(run.OutLines()[4], kTransferring);
    EXPECT_EQ(run.OutLines()[5], kVerifying);
}

TEST_F(ConsoleProgress, BarFitsANarrowTerminalOrStaysAway) {
    world.stderrIsTerminal = true;
    world.terminalColumns = 30;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult narrow = RunTool({file.Path()});
    EXPECT_EQ(narrow.err.find(" ["), std::string::npos);  // counts only, no bar
    EXPECT_NE(narrow.err.find("100%"), std::string::npos);

    world.Reset();
    world.stderrIsTerminal = true;
    world.terminalColumns = 10;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    EXPECT_EQ(RunTool({file.Path()}).err, "");
}

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
    EXPECT_EQ(WithoutBar(Normalised(terminal.out)), piped.out);
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
    EXPECT_EQ(WithoutBar(Normalised(terminal.out)), piped.out);
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
