// Fuzz target: any command line, through the dispatcher of either edition,
// over a fixed bus of well-behaved simulated devices (a controller running
// its application, the dongle's application and bootloader, a Tivane).
//
// Input: the first byte picks the edition (0x01: compact) and whether
// standard error is a terminal (0x02); the rest are the words after the
// program name, split on NUL or newline. The command runs in a directory of
// this process that holds a few small image files (fuzz/CommandLineFuzzer.dict
// names them); a "/" in a word becomes "_", so that no word reaches a file
// outside it, and the tool only ever reads files.
//
// Besides no crash, no sanitizer report and no hang: the exit status is 0, 1
// or -1, the console ends with whole lines, and every device handle is closed
// when the command returns.
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"

namespace {

void MakeWorkingDirectory() {
    const TempDirectory& dir = fuzz::ProcessTempDir();
    dir.Write("fw.bin", ControllerImage::Pattern(120, 1).file);
    dir.Write("tivane.bin", ControllerImage::Pattern(60, 2).file);
    dir.Write("x_dongle.bin", PatternBytes(600, 3));
    dir.Write("linktester.bin", PatternBytes(100, 4));
    dir.Write("r_module.bin", PatternBytes(100, 5));
    dir.Write("sd.bin", PatternBytes(130, 6));
    dir.Write("boot.bin", PatternBytes(40, 7));
    dir.Write("short.bin", PatternBytes(39, 8));
    dir.Write("empty.bin", {});
    std::filesystem::create_directory(std::filesystem::path(dir.Path()) / "dir");
}

// The command runs in the fuzzer's directory; libFuzzer's own paths (corpus,
// artifacts) stay relative to where it was started.
class InWorkingDirectory {
public:
    InWorkingDirectory() : previous(std::filesystem::current_path()) {
        std::filesystem::current_path(fuzz::ProcessTempDir().Path());
    }
    ~InWorkingDirectory() { std::filesystem::current_path(previous); }
    InWorkingDirectory(const InWorkingDirectory&) = delete;
    InWorkingDirectory& operator=(const InWorkingDirectory&) = delete;

private:
    std::filesystem::path previous;
};

std::vector<std::string> SplitWords(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t at = 0; at < size; ++at) {
        const char c = static_cast<char>(data[at]);
        if (c == '\0' || c == '\n') {
            words.emplace_back();
        } else {
            words.back() += c == '/' ? '_' : c;
        }
    }
    return words;
}

void PlugDevices() {
    sim::World& world = sim::World::Get();
    world.Add<sim::ControllerModel>();
    world.Add<sim::DongleAppModel>();
    world.Add<sim::DongleBootloaderModel>();
    world.Add<sim::TivaneModel>();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeWorkingDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    sim::World& world = sim::World::Get();
    world.Reset();
    world.stderrIsTerminal = (data[0] & 0x02) != 0;
    PlugDevices();
    const Edition edition = (data[0] & 0x01) != 0 ? Edition::Compact : Edition::Standard;
    const std::vector<std::string> words =
        size > 1 ? SplitWords(data + 1, size - 1) : std::vector<std::string>{};

    RunResult run;
    {
        const InWorkingDirectory inWorkingDirectory;
        run = fuzz::RunQuietly(words, edition);
    }
    if (run.status != 0 && run.status != 1 && run.status != -1) {
        fuzz::Violation("exit status " + std::to_string(run.status));
    }
    fuzz::CheckConsoleAndHandles(run);
    world.Reset();
    return 0;
}
