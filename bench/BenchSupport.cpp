#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <unistd.h>

BenchImage::BenchImage(const std::string& name, std::uint64_t size) : size(size) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr ? dir : "/tmp") + "/quorl_bench_" + std::to_string(getpid()) +
           "_" + name;
    std::ofstream file(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    std::uint32_t x = 2463534242u;
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        for (std::size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            chunk[i] = static_cast<char>(x);
        }
        file.write(chunk.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

BenchImage::~BenchImage() { std::remove(path.c_str()); }

SilencedConsole::SilencedConsole()
    : out(std::cout.rdbuf(&sink)), err(std::cerr.rdbuf(&sink)) {}

SilencedConsole::~SilencedConsole() {
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
}

sim::World& FreshBoundedWorld() {
    sim::World& world = sim::World::Get();
    world.Reset();
    world.boundedMemory = true;
    world.stderrIsTerminal = false;
    return world;
}

void WireCounts::AddFrom(const sim::World& world) {
    for (const auto& device : world.devices) {
        reportsSent += device->setReportsTaken;
        transfers += device->transfers;
    }
}

void SetTransferCounters(benchmark::State& state, const WireCounts& counts) {
    using benchmark::Counter;
    state.counters["reports"] =
        Counter(static_cast<double>(counts.reportsSent), Counter::kAvgIterations);
    state.counters["transfers"] =
        Counter(static_cast<double>(counts.transfers), Counter::kAvgIterations);
    // CPU seconds per report: the rate of reports per CPU second, inverted.
    state.counters["cpu_per_report"] =
        Counter(static_cast<double>(counts.reportsSent), Counter::kIsRate | Counter::kInvert);
    state.counters["cpu_per_transfer"] =
        Counter(static_cast<double>(counts.transfers), Counter::kIsRate | Counter::kInvert);
}
