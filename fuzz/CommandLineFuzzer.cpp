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

namespace {

using fuzz::Bytes;

Bytes WithStartRegion(std::size_t imageSize, std::uint32_t seed) {
    Bytes file = fuzz::PatternBytes(8192, seed + 100);
    const Bytes image = fuzz::PatternBytes(imageSize, seed);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

void MakeWorkingDirectory() {
    const std::string& dir = fuzz::ProcessTempDir();
    fuzz::WriteTempFile("fw.bin", WithStartRegion(120, 1));
    fuzz::WriteTempFile("tivane.bin", WithStartRegion(60, 2));
    fuzz::WriteTempFile("x_dongle.bin", fuzz::PatternBytes(600, 3));
    fuzz::WriteTempFile("linktester.bin", fuzz::PatternBytes(100, 4));
    fuzz::WriteTempFile("r_module.bin", fuzz::PatternBytes(100, 5));
    fuzz::WriteTempFile("sd.bin", fuzz::PatternBytes(130, 6));
    fuzz::WriteTempFile("boot.bin", fuzz::PatternBytes(40, 7));
    fuzz::WriteTempFile("short.bin", fuzz::PatternBytes(39, 8));
    fuzz::WriteTempFile("empty.bin", {});
    std::filesystem::create_directory(dir + "/dir");
}

// The command runs in the fuzzer's directory; libFuzzer's own paths (corpus,
// artifacts) stay relative to where it was started.
class InWorkingDirectory {
public:
    InWorkingDirectory() : previous(std::filesystem::current_path()) {
        std::filesystem::current_path(fuzz::ProcessTempDir());
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

    fuzz::QuietRun run;
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
