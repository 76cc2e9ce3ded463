// What the benchmarks add to the shared test support: a bus whose devices
// keep counts instead of every report, and the counters of a transfer
// benchmark.
#pragma once

#include <cstdint>

#include <benchmark/benchmark.h>

#include "sim/SimWorld.h"

// A fresh bus at virtual time 0 whose devices keep counts, not every report,
// and check images as they arrive: the simulator's own cost kept small.
sim::World& FreshBoundedWorld();

// Reports the tool sent and transfers of any kind, over every device of the bus.
struct WireCounts {
    std::uint64_t reportsSent = 0;
    std::uint64_t transfers = 0;
    void AddFrom(const sim::World& world);
};

// Sets the counters of a transfer benchmark: reports and transfers per
// update, and CPU time per report sent and per transfer.
void SetTransferCounters(benchmark::State& state, const WireCounts& counts);
