#include "image/Lfsr128.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
// Windows' 64-bit calling convention leaves the stack 16-byte aligned, and
// GCC cannot spill 256-bit vectors there safely: the scalar runs serve there.
#define QUORL_LFSR_VECTOR_RUNS 1
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t kRun = 64;
constexpr std::size_t kBlock = 16;

}  // namespace

void Lfsr128::AbsorbBlocks(const std::uint8_t* blocks, std::size_t count) {
    count = AbsorbFourRuns(blocks, count);
    count = AbsorbRuns(blocks, count);
    for (; count > 0; --count, blocks += kBlock) {
        Absorb(blocks);
    }
}

std::size_t Lfsr128::AbsorbRuns(const std::uint8_t*& blocks, std::size_t count) {
    for (; count >= kRun; count -= kRun) {
        std::uint64_t low = lo;
        std::uint64_t high = hi;  // without this run's feedback bits
        std::uint64_t feedback = 0;
        for (std::size_t i = 0; i < kRun; ++i, blocks += kBlock) {
            const std::uint64_t intoLow = LoadLittleEndian(blocks) ^ (high << 63);
            feedback = (feedback >> 1) | FeedbackAtTop(low);
            low = (low >> 1) ^ intoLow;
            high = (high >> 1) ^ LoadLittleEndian(blocks + 8);
        }
        lo = low;
        hi = high ^ feedback;
    }
    return count;
}

// Without data, the high half moves down into the low half in 64 clocks, and
// the feedback bits fill the high half: bit k is the sum of the tapped bits
// 0, 2, 27 and 29 after k clocks, that is of register bits k, k+2, k+27 and
// k+29 now (none of this run's feedback reaches bit 29 within 64 clocks).
void Lfsr128::ClockZeroRun() {
    const std::uint64_t feedback = lo ^ ((lo >> 2) | (hi << 62)) ^ ((lo >> 27) | (hi << 37)) ^
                                   ((lo >> 29) | (hi << 35));
    lo = hi;
    hi = feedback;
}

#if defined(QUORL_LFSR_VECTOR_RUNS)

namespace {

// Four runs of 64 blocks, each absorbed into a cleared register of its own,
// one run per 64-bit lane. The register is linear, so a run's effect on a
// register that held a value is that value clocked 64 times without data,
// plus the run absorbed from zero. Within a run every block's share of the
// result is computed on its own, with no chain from clock to clock:
// block j ends up shifted down by 63 - j, and adds its tapped bits to the
// feedback of every later clock.
__attribute__((target("avx2"))) void AbsorbRunsFromZero(const std::uint8_t* blocks,
                                                        std::uint64_t (&lo)[4],
                                                        std::uint64_t (&hi)[4]) {
    const auto* runA = blocks;
    const auto* runB = blocks + kRun * kBlock;
    const auto* runC = blocks + 2 * kRun * kBlock;
    const auto* runD = blocks + 3 * kRun * kBlock;
    __m256i low = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    __m256i feedback = _mm256_setzero_si256();
    for (int j = 0; j < static_cast<int>(kRun); ++j) {
        const std::size_t at = static_cast<std::size_t>(j) * kBlock;
        const auto load = [&](const std::uint8_t* run) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at));
        };
        const __m256i ab = _mm256_inserti128_si256(_mm256_castsi128_si256(load(runA)), load(runB), 1);
        const __m256i cd = _mm256_inserti128_si256(_mm256_castsi128_si256(load(runC)), load(runD), 1);
        // Lanes in the order A, C, B, D.
        const __m256i dlo = _mm256_unpacklo_epi64(ab, cd);
        const __m256i dhi = _mm256_unpackhi_epi64(ab, cd);

        // The block's bits k, k+2, k+27 and k+29 added, for every k: what it
        // gives the feedback of the clock k + j + 1 positions later.
        const __m256i lowPair = _mm256_xor_si256(dlo, _mm256_srli_epi64(dlo, 2));
        const __m256i highPair = _mm256_xor_si256(dhi, _mm256_slli_epi64(dhi, 2));
        __m256i taps = _mm256_xor_si256(lowPair, _mm256_srli_epi64(lowPair, 27));
        taps = _mm256_xor_si256(taps, _mm256_slli_epi64(highPair, 35));
        taps = _mm256_xor_si256(taps, _mm256_slli_epi64(dhi, 62));
        const __m128i later = _mm_cvtsi32_si128(j + 1);
        feedback = _mm256_xor_si256(feedback, _mm256_sll_epi64(taps, later));

        // Shifts of 64 and more give 0, as the block's bits that fall off.
        const __m128i down = _mm_cvtsi32_si128(63 - j);
        const __m128i up = _mm_cvtsi32_si128(1 + j);
        low = _mm256_xor_si256(low, _mm256_or_si256(_mm256_srl_epi64(dlo, down),
                                                    _mm256_sll_epi64(dhi, up)));
        high = _mm256_xor_si256(high, _mm256_srl_epi64(dhi, down));
    }
    high = _mm256_xor_si256(high, feedback);
    std::uint64_t lanesLow[4];
    std::uint64_t lanesHigh[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanesLow), low);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanesHigh), high);
    constexpr int kRunOfLane[4] = {0, 2, 1, 3};
    for (int lane = 0; lane < 4; ++lane) {
        lo[kRunOfLane[lane]] = lanesLow[lane];
        hi[kRunOfLane[lane]] = lanesHigh[lane];
    }
}

bool HasVectorRuns() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

}  // namespace

std::size_t Lfsr128::AbsorbFourRuns(const std::uint8_t*& blocks, std::size_t count) {
    if (!HasVectorRuns()) {
        return count;
    }
    for (; count >= 4 * kRun; count -= 4 * kRun, blocks += 4 * kRun * kBlock) {
        std::uint64_t runLo[4];
        std::uint64_t runHi[4];
        AbsorbRunsFromZero(blocks, runLo, runHi);
        for (int run = 0; run < 4; ++run) {
            ClockZeroRun();
            lo ^= runLo[run];
            hi ^= runHi[run];
        }
    }
    return count;
}

#else

std::size_t Lfsr128::AbsorbFourRuns(const std::uint8_t*& /*blocks*/, std::size_t count) {
    return count;
}

#endif
