// Throughput of the image checksum: the register alone on data in memory,
// and the whole computation over a file in the page cache.
#include <array>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "device/QuorlControllerDevice.h"
#include "image/FirmwareUpdater.h"
#include "image/Lfsr128.h"

namespace {

constexpr std::size_t kBufferBytes = 256 << 10;

std::vector<std::uint8_t> Buffer() {
    std::vector<std::uint8_t> buffer(kBufferBytes);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    }
    return buffer;
}

// One block per call, as the padding at the end of an image is absorbed.
// The register is local to each pass, as in the checksum: once its address
// escapes, the compiler must keep it in memory between blocks.
void BM_Lfsr128_OneBlockAtATime(benchmark::State& state) {
    const std::vector<std::uint8_t> buffer = Buffer();
    std::array<std::uint8_t, 16> value{};
    for (auto _ : state) {
        Lfsr128 lfsr;
        for (std::size_t at = 0; at < buffer.size(); at += 16) {
            lfsr.Absorb(buffer.data() + at);
        }
        lfsr.GetValue(value.data());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Lfsr128_OneBlockAtATime);

// Whole read windows at once, as the image checksum absorbs a file.
void BM_Lfsr128_Blocks(benchmark::State& state) {
    const std::vector<std::uint8_t> buffer = Buffer();
    std::array<std::uint8_t, 16> value{};
    for (auto _ : state) {
        Lfsr128 lfsr;
        lfsr.AbsorbBlocks(buffer.data(), buffer.size() / 16);
        lfsr.GetValue(value.data());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_Lfsr128_Blocks);

// The image checksum of a 64 MiB file that is already in the page cache
// (the first pass reads it in): reading it plus the register.
void BM_ImageChecksumOfFile(benchmark::State& state) {
    static const BenchImage image("checksum.bin", 64 << 20);
    QuorlControllerDevice profile(kControllerAppProductId);
    FirmwareUpdater updater(&profile);
    std::array<std::uint8_t, kImageChecksumLength> checksum{};
    updater.ComputeImageChecksum(image.Path(), 0, checksum.data());
    for (auto _ : state) {
        if (updater.ComputeImageChecksum(image.Path(), 0, checksum.data()) != 0) {
            state.SkipWithError("the image file cannot be read");
            break;
        }
        benchmark::DoNotOptimize(checksum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.Size()));
}
BENCHMARK(BM_ImageChecksumOfFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
