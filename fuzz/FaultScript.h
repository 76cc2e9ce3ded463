// The fuzzer's script of what goes wrong between host and devices: a byte
// stream read from the front. Every transfer of a faulty device (FaultyDevice.h)
// asks it for its fate. Most transfers pass untouched; once the script runs
// out, every transfer goes through as the device model answers it, so each
// command runs to its end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"

namespace fuzz {

struct Fault {
    int kind = -1;           // -1: none; else read by the transfer type (FaultyDevice.h)
    std::uint8_t param = 0;  // the fault's parameter byte
    bool repeats = false;    // the same fault hits the next `param` transfers of the type too

    explicit operator bool() const { return kind >= 0; }
};

class FaultScript {
public:
    void Load(const std::uint8_t* data, std::size_t size);

    // The next byte of the script; 0 once it is used up.
    std::uint8_t Byte();

    // The fate of the next transfer. Script bytes:
    //   0x00-0x7F n: this transfer and the next n pass untouched;
    //   0x80-0x8F n: this one and the next (n - 0x7F) * 128 pass;
    //   0x90-0xFF n, p: a fault of kind (n - 0x90) % kFaultKinds with parameter
    //   p, repeating for p more transfers of the same type when n >= 0xC8.
    Fault Next();

    static constexpr int kFaultKinds = 56;

private:
    ByteReader reader;
    std::uint32_t passLeft = 0;
};

// The script of the run in progress.
FaultScript& Script();

// Bounds of one command run: a command that passes them counts as hung, and
// the run stops so that libFuzzer reports the input. The time bound is on
// the tool's own waiting: the time that slow transfers took is not the
// tool's to bound (the kernel ends each transfer after at most 5 s), their
// number is.
namespace limits {

constexpr std::uint64_t kVirtualTimeBudgetMs = 6ull * 60 * 60 * 1000;
constexpr std::uint64_t kTransferBudget = 1000000;

void Reset();
void CountTransfer();
std::uint64_t Transfers();
// A transfer that took this long on the device's side.
void CountSlowTransfer(std::uint64_t ms);
void CheckTime(std::uint64_t nowMs);

}  // namespace limits

}  // namespace fuzz
