#include "bench/BenchSupport.h"

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
