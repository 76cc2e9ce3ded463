// Throughput of the image checksum: the register alone on data in memory,
// and the whole computation over a file in the page cache.
#include <array>
#include <vector>

#include <benchmark/benchmark.h>

#include "device/QuorlControllerDevice.h"
#include "image/FirmwareUpdater.h"
#include "image/Lfsr128.h"
#include "testsupport/Bytes.h"
#include "testsupport/TempFiles.h"

namespace {

constexpr std::size_t kBufferBytes = 256 << 10;
constexpr std::uint64_t kFileBytes = 64 << 20;

Bytes Buffer() { return PatternBytes(kBufferBytes); }

// One block per call, as the padding at the end of an image is absorbed.
// The register is local to each pass, as in the checksum: once its address
// escapes, the compiler must keep it in memory between blocks.
void BM_Lfsr128_OneBlockAtATime(benchmark::State& state) {
    const Bytes buffer = Buffer();
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
    const Bytes buffer = Buffer();
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
    static const TempFile image = TempFile::OfPattern(kFileBytes, 5);
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
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_ImageChecksumOfFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
