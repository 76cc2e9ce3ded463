#include "fuzz/FaultScript.h"

#include <string>

namespace fuzz {

namespace {

constexpr std::uint8_t kLongestShortPass = 0x7F;
constexpr std::uint8_t kLastLongPass = 0x8F;
constexpr std::uint32_t kLongPassUnit = 128;
constexpr std::uint8_t kFirstFault = 0x90;
constexpr std::uint8_t kFirstRepeatingFault = 0xC8;

std::uint64_t g_transfers = 0;
std::uint64_t g_slowTransfersMs = 0;

}  // namespace

void FaultScript::Load(const std::uint8_t* data, std::size_t size) {
    reader = ByteReader(data, size);
    passLeft = 0;
}

std::uint8_t FaultScript::Byte() { return reader.Byte(); }

Fault FaultScript::Next() {
    if (passLeft > 0) {
        --passLeft;
        return {};
    }
    if (reader.AtEnd()) {
        return {};
    }
    const std::uint8_t n = Byte();
    if (n <= kLongestShortPass) {
        passLeft = n;
        return {};
    }
    if (n <= kLastLongPass) {
        passLeft = static_cast<std::uint32_t>(n - kLongestShortPass) * kLongPassUnit;
        return {};
    }
    Fault fault;
    fault.kind = (n - kFirstFault) % kFaultKinds;
    fault.repeats = n >= kFirstRepeatingFault;
    fault.param = Byte();
    return fault;
}

FaultScript& Script() {
    static FaultScript script;
    return script;
}

namespace limits {

void Reset() {
    g_transfers = 0;
    g_slowTransfersMs = 0;
}

std::uint64_t Transfers() { return g_transfers; }

void CountTransfer() {
    if (++g_transfers > kTransferBudget) {
        Violation("more than " + std::to_string(kTransferBudget) + " transfers in one command");
    }
}

void CountSlowTransfer(std::uint64_t ms) { g_slowTransfersMs += ms; }

void CheckTime(std::uint64_t nowMs) {
    // Counted as a transfer begins: it may not have taken all of its time yet.
    const std::uint64_t toolMs = nowMs > g_slowTransfersMs ? nowMs - g_slowTransfersMs : 0;
    if (toolMs > kVirtualTimeBudgetMs) {
        Violation("the command ran past " + std::to_string(kVirtualTimeBudgetMs / 3600000) +
                  " hours of virtual time");
    }
}

}  // namespace limits

}  // namespace fuzz
