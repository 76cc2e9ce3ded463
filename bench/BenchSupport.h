// What the benchmarks share: an image file made for the run, the console
// silenced while timing, and the count of reports a simulated device took.
#pragma once

#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>

#include "sim/SimWorld.h"

// An image file of the given size with bytes that differ from position to
// position, in $TMPDIR (or /tmp); removed with the object.
class BenchImage {
public:
    BenchImage(const std::string& name, std::uint64_t size);
    ~BenchImage();
    BenchImage(const BenchImage&) = delete;
    BenchImage& operator=(const BenchImage&) = delete;
    const std::string& Path() const { return path; }
    std::uint64_t Size() const { return size; }

private:
    std::string path;
    std::uint64_t size;
};

// Discards everything written to it.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Sends std::cout and std::cerr nowhere while it lives, so that the tool's
// progress lines cost what they cost in a script whose output goes to a file,
// not what a terminal costs.
class SilencedConsole {
public:
    SilencedConsole();
    ~SilencedConsole();
    SilencedConsole(const SilencedConsole&) = delete;
    SilencedConsole& operator=(const SilencedConsole&) = delete;

private:
    NullBuffer sink;
    std::streambuf* out;
    std::streambuf* err;
};

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
