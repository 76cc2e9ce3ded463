// The progress bar: drawn on a terminal only, beside the tool's own lines and
// marks, which read exactly as without it; piped output never changes.
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

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
    std::vector<std::uint8_t> ControllerImage() {
        std::vector<std::uint8_t> image(8192, 0);
        const auto body = PatternBytes(20000);
        image.insert(image.end(), body.begin(), body.end());
        return image;
    }
};

TEST_F(ConsoleProgress, NothingIsDrawnWhenStandardErrorIsNotATerminal) {
    world.stderrIsTerminal = false;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(ControllerImage());
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(ConsoleProgress, BarReachesTheWholeImageAndIsErasedBeforeTheNextLine) {
    world.stderrIsTerminal = true;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(ControllerImage());
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find(" 100%  20000/20000 bytes"), std::string::npos) << run.err;
    // The last thing drawn is cleared again.
    EXPECT_EQ(run.err.substr(run.err.size() - 3), "\033[K");
    EXPECT_EQ(WithoutBar(run.err), "");
    // Standard output is the same as on a pipe.
    EXPECT_EQ(run.OutLines()[4], "Transfering data...");
    EXPECT_EQ(run.OutLines()[5], "Verifying...");
}

TEST_F(ConsoleProgress, BarFitsANarrowTerminalOrStaysAway) {
    world.stderrIsTerminal = true;
    world.terminalColumns = 30;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(ControllerImage());
    const RunResult narrow = RunTool({file.Path()});
    EXPECT_EQ(narrow.err.find(" ["), std::string::npos);  // counts only, no bar
    EXPECT_NE(narrow.err.find("100%"), std::string::npos);

    world.Reset();
    world.stderrIsTerminal = true;
    world.terminalColumns = 10;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    EXPECT_EQ(RunTool({file.Path()}).err, "");
}

// Runs the simulated-device build in a child with its output on a pseudo
// terminal or on pipes, and returns what came out.
struct ChildOutput {
    std::string out;
    std::string err;
    int status = -1;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

int WaitStatus(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

[[noreturn]] void ExecTool(const std::vector<std::string>& args) {
    setenv("QUORL_SIM_DEVICES", "controller", 1);
    std::vector<char*> argv = {const_cast<char*>(QUORL_SIM_APP)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(QUORL_SIM_APP, argv.data());
    _exit(127);
}

ChildOutput RunOnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 24;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        ExecTool(args);
    }
    ChildOutput output;
    output.out = ReadAll(master);  // ends with EIO once the child is gone
    close(master);
    output.status = WaitStatus(child);
    return output;
}

// Standard output goes to the given file instead of a pipe when one is named.
ChildOutput RunOnPipes(const std::vector<std::string>& args, const char* outputFile = nullptr) {
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(outputFile != nullptr ? open(outputFile, O_WRONLY) : out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        ExecTool(args);
    }
    close(out[1]);
    close(err[1]);
    ChildOutput output;
    output.out = ReadAll(out[0]);  // small enough not to fill the other pipe
    output.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    output.status = WaitStatus(child);
    return output;
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
    TempFile image(PatternBytes(8192 + 30000));
    const ChildOutput piped = RunOnPipes({image.Path()});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\033'), std::string::npos);

    const ChildOutput terminal = RunOnTerminal({image.Path()});
    EXPECT_EQ(terminal.status, 0);
    EXPECT_NE(terminal.out.find("100%  30000/30000 bytes"), std::string::npos);
    // Once the bar's drawing is taken away, the terminal reads as the pipe.
    EXPECT_EQ(WithoutBar(Normalised(terminal.out)), piped.out);
}

TEST(ConsoleProgressProcess, SwdMarksReadAsBeforeBesideTheBar) {
    TempFile app(PatternBytes(5000));
    const ChildOutput piped = RunOnPipes({"-s", app.Path()});
    EXPECT_EQ(piped.status, 0);
    EXPECT_NE(piped.out.find("\n....\nRadio Update Complete.  Rebooting\n"), std::string::npos)
        << piped.out;
    const ChildOutput terminal = RunOnTerminal({"-s", app.Path()});
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
        const ChildOutput full = RunOnPipes(args, "/dev/full");
        EXPECT_EQ(full.status, 1) << args[0];
        EXPECT_EQ(full.err, "Error: Unable to write standard output\n") << args[0];
    }
}

}  // namespace
