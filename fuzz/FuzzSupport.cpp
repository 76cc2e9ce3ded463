#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/Dispatcher.h"
#include "sim/SimWorld.h"

namespace fuzz {

Bytes ByteReader::Take(std::size_t count) {
    const std::size_t taken = std::min(count, size - at);
    Bytes bytes(data + at, data + at + taken);
    at += taken;
    return bytes;
}

RedirectedConsole::RedirectedConsole(std::streambuf* out, std::streambuf* err)
    : oldOut(std::cout.rdbuf(out)), oldErr(std::cerr.rdbuf(err)) {}

RedirectedConsole::~RedirectedConsole() {
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    std::cout.clear();
    std::cerr.clear();
}

namespace {

std::string MakeTempDir() {
    // No image marker ("_dongle", "_module", "ivane", "linktester") can
    // appear in the template, so file names alone choose the command.
    char name[] = "/tmp/quorl-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    return name;
}

void RemoveTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(ProcessTempDir(), ignored);
}

}  // namespace

const std::string& ProcessTempDir() {
    // Never destroyed: the exit handler that removes the directory reads it.
    static const std::string* const dir = [] {
        auto* made = new std::string(MakeTempDir());
        std::atexit(RemoveTempDir);
        return made;
    }();
    return *dir;
}

std::string WriteTempFile(const std::string& name, const Bytes& content) {
    const std::string path = ProcessTempDir() + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    if (!file) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

int RunWords(const std::vector<std::string>& words, Edition edition) {
    std::vector<const char*> argv = {"QuorlFirmwareUpdateApp"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);
    return RunApp(static_cast<int>(argv.size() - 1), argv.data(), edition);
}

QuietRun RunQuietly(const std::vector<std::string>& words, Edition edition) {
    static const bool echo = std::getenv("QUORL_FUZZ_ECHO") != nullptr;
    QuietRun run;
    if (echo) {
        std::cout << "$ QuorlFirmwareUpdateApp";
        for (const std::string& word : words) {
            std::cout << " '" << word << "'";
        }
        std::cout << std::endl;
        run.status = RunWords(words, edition);
        std::cout << "[exit status " << run.status << "]" << std::endl;
        return run;
    }
    NullBuffer out;
    NullBuffer err;
    {
        const RedirectedConsole console(&out, &err);
        run.status = RunWords(words, edition);
    }
    run.outEndsLine = out.EndsLine();
    run.errEndsLine = err.EndsLine();
    return run;
}

void CheckConsoleAndHandles(const QuietRun& run) {
    const sim::World& world = sim::World::Get();
    if (!run.outEndsLine) {
        Violation("standard output ends inside a line");
    }
    if (!run.errEndsLine && !world.stderrIsTerminal.value_or(false)) {
        Violation("standard error ends inside a line");
    }
    if (world.liveHandles != 0) {
        Violation("a device handle outlived its command");
    }
}

Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
    std::minstd_rand generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator() >> 7);
    }
    return bytes;
}

void Violation(const std::string& what) {
    std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

}  // namespace fuzz
