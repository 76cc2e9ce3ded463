#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "sim/SimWorld.h"

namespace fuzz {

namespace {

bool EndsLine(const std::string& text) { return text.empty() || text.back() == '\n'; }

}  // namespace

Bytes ByteReader::Take(std::size_t count) {
    const std::size_t taken = std::min(count, size - at);
    Bytes bytes(data + at, data + at + taken);
    at += taken;
    return bytes;
}

const TempDirectory& ProcessTempDir() {
    static const TempDirectory directory;
    return directory;
}

RunResult RunQuietly(const std::vector<std::string>& words, Edition edition) {
    static const bool echo = std::getenv("QUORL_FUZZ_ECHO") != nullptr;
    if (!echo) {
        return RunTool(words, edition);
    }
    std::cout << "$ QuorlFirmwareUpdateApp";
    for (const std::string& word : words) {
        std::cout << " '" << word << "'";
    }
    std::cout << std::endl;
    RunResult run;
    run.status = RunToolOnConsole(words, edition);
    std::cout << "[exit status " << run.status << "]" << std::endl;
    return run;
}

void CheckConsoleAndHandles(const RunResult& run) {
    const sim::World& world = sim::World::Get();
    if (!EndsLine(run.out)) {
        Violation("standard output ends inside a line");
    }
    if (!EndsLine(run.err) && !world.stderrIsTerminal.value_or(false)) {
        Violation("standard error ends inside a line");
    }
    if (world.liveHandles != 0) {
        Violation("a device handle outlived its command");
    }
}

void Violation(const std::string& what) {
    std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

}  // namespace fuzz
