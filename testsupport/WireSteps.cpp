#include "testsupport/WireSteps.h"

#include <algorithm>

#include "sim/DongleBootloaderModel.h"
#include "sim/WireNames.h"
#include "testsupport/Bytes.h"

namespace {

using sim::Bytes;

constexpr std::size_t kAckStatusOffset = 6;
constexpr std::size_t kAckLength = 8;
constexpr std::size_t kMalformedShown = 16;

bool ZeroFrom(const Bytes& report, std::size_t from) {
    return std::all_of(report.begin() + static_cast<long>(std::min(from, report.size())),
                       report.end(), [](std::uint8_t byte) { return byte == 0; });
}

// The report's bytes up to its last non-zero one, at most kMalformedShown.
std::string Malformed(const Bytes& report) {
    std::size_t used = report.size();
    while (used > 0 && report[used - 1] == 0) {
        --used;
    }
    const std::size_t shown = std::min(used, kMalformedShown);
    return "malformed " + HexDigits(report.data(), shown, " ") + (shown < used ? " ..." : "");
}

template <std::size_t N>
bool Is(const std::uint8_t* payload, std::size_t length,
        const std::array<std::uint8_t, N>& magic) {
    return length == N && std::equal(magic.begin(), magic.end(), payload);
}

std::uint32_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// A command report of the controller's protocol: code, length n, n bytes, zeros.
std::string ControllerCommand(const Bytes& report) {
    const bool framed =
        report.size() >= 2 && 2u + report[1] <= report.size() && ZeroFrom(report, 2u + report[1]);
    if (!framed) {
        return Malformed(report);
    }
    const std::uint8_t* payload = report.data() + 2;
    const std::size_t n = report[1];
    const std::string count = std::to_string(n);
    switch (report[0]) {
        case sim::kRestart:
            if (n == 0) {
                return "reset";
            }
            return Is(payload, n, sim::kBootloaderMagic) ? "reboot" : Malformed(report);
        case sim::kStartUpdate:
            return n == 0 ? "start" : Malformed(report);
        case sim::kImageData:
            return n <= sim::kMaxPayload ? "data " + count : Malformed(report);
        case sim::kImageChecksum:
            return n == sim::kChecksumLength ? "checksum" : Malformed(report);
        case sim::kRebootIntoIsp:
            return Is(payload, n, sim::kIspMagic) ? "isp" : Malformed(report);
        case sim::kEmcRecord:
            return n == sim::kEmcRecordLength ? "emc" : Malformed(report);
        case sim::kBoardRevision:
            return n == 4 ? "board revision " + std::to_string(Word(payload)) : Malformed(report);
        case sim::kUnitSerial: {
            if (n != sim::kUnitSerialLength + 1 || payload[sim::kUnitSerialLength] != 0) {
                return Malformed(report);
            }
            const auto* end = std::find(payload, payload + sim::kUnitSerialLength, 0);
            return "serial " + std::string(payload, end);
        }
        case sim::kRadioBegin:
            return n == 0 ? "radio begin" : Malformed(report);
        case sim::kRadioData:
            return n <= sim::kMaxRadioData ? "radio data " + count : Malformed(report);
        case sim::kRadioChecksum:
            return n == sim::kChecksumLength ? "radio checksum" : Malformed(report);
        case sim::kSwdStart:
            return Is(payload, n, sim::kSwdStartMagic) ? "swd start" : Malformed(report);
        case sim::kSwdWrite:
            return n >= sim::kSwdAddressLength
                       ? "swd write " + std::to_string(Word(payload)) + " " +
                             std::to_string(n - sim::kSwdAddressLength)
                       : Malformed(report);
        case sim::kSwdRead:
            return n == sim::kSwdAddressLength + 1
                       ? "swd read " + std::to_string(Word(payload)) + " " +
                             std::to_string(payload[sim::kSwdAddressLength])
                       : Malformed(report);
        case sim::kSwdEraseSector:
            return n == sim::kSwdAddressLength ? "swd erase " + std::to_string(Word(payload))
                                               : Malformed(report);
        case sim::kSwdEraseChip:
            return n == 0 ? "swd chip erase" : Malformed(report);
        case sim::kSwdEnd:
            return n == 0 ? "swd end" : Malformed(report);
        default:
            return Malformed(report);
    }
}

std::string ControllerReply(const Bytes& reply) {
    if (reply.size() < kAckLength) {
        return "short reply (" + std::to_string(reply.size()) + " bytes)";
    }
    if (reply[0] == sim::kSwdRead) {
        return "swd read reply";
    }
    if (reply[0] != sim::kAcknowledgement) {
        return Malformed(reply);
    }
    const unsigned status = reply[kAckStatusOffset] | (reply[kAckStatusOffset + 1] << 8);
    return status == sim::kStatusBusy ? "ack busy" : "ack " + std::to_string(status);
}

// A short command of the dongle's bootloader: its bytes, then zeros.
std::string DongleCommand(const Bytes& report) {
    if (report.empty()) {
        return Malformed(report);
    }
    const std::string argument = report.size() > 1 ? std::to_string(report[1]) : "";
    switch (report[0]) {
        case sim::kDongleGetVersion:
            return ZeroFrom(report, 1) ? "version" : Malformed(report);
        case sim::kDongleWritePage:
            return ZeroFrom(report, 2) ? "write page " + argument : Malformed(report);
        case sim::kDongleRead:
            return ZeroFrom(report, 2) ? "read " + argument : Malformed(report);
        case sim::kDongleSelect:
            return ZeroFrom(report, 2) ? "select " + argument : Malformed(report);
        case sim::kDongleReset:
            return report.size() > sim::kDongleResetLetters.size() &&
                           std::equal(sim::kDongleResetLetters.begin(),
                                      sim::kDongleResetLetters.end(), report.begin() + 1) &&
                           ZeroFrom(report, 1 + sim::kDongleResetLetters.size())
                       ? "reset"
                       : Malformed(report);
        default:
            return Malformed(report);
    }
}

Transcript Collapsed(const Transcript& steps) {
    Transcript runs;
    for (std::size_t at = 0; at < steps.size();) {
        std::size_t end = at;
        while (end < steps.size() && steps[end] == steps[at]) {
            ++end;
        }
        runs.push_back(end - at > 1 ? steps[at] + " x " + std::to_string(end - at) : steps[at]);
        at = end;
    }
    return runs;
}

Transcript Decoded(const sim::SimDevice& device, bool withReplies) {
    WireDecoder decoder(device);
    Transcript steps;
    for (const sim::WireRecord& record : device.wire) {
        const bool wanted = record.transfer == sim::Transfer::SetFeature ||
                            (withReplies && record.transfer == sim::Transfer::GetFeature);
        std::string step = decoder.Describe(record);
        if (wanted) {
            steps.push_back(std::move(step));
        }
    }
    return Collapsed(steps);
}

}  // namespace

WireDecoder::WireDecoder(const sim::SimDevice& device)
    : dongleBootloader(dynamic_cast<const sim::DongleBootloaderModel*>(&device) != nullptr) {}

std::string WireDecoder::DescribeSent(const Bytes& report, bool taken) {
    if (!dongleBootloader) {
        return ControllerCommand(report);
    }
    if (pageDataLeft > 0) {
        pageDataLeft -= taken ? 1 : 0;
        return "page data";
    }
    const std::string step = DongleCommand(report);
    if (taken) {
        lastCommand = report.empty() ? 0 : report[0];
        pageDataLeft = lastCommand == sim::kDongleWritePage ? sim::kDongleDataReportsPerPage : 0;
    }
    return step;
}

std::string WireDecoder::DescribeReply(const Bytes& reply) const {
    if (!dongleBootloader) {
        return ControllerReply(reply);
    }
    if (lastCommand == sim::kDongleGetVersion) {
        return reply.size() == 2
                   ? "version " + std::to_string(reply[0]) + "." + std::to_string(reply[1])
                   : "version reply (" + std::to_string(reply.size()) + " bytes)";
    }
    return reply.size() == sim::DongleBootloaderModel::kChunkSize
               ? "chunk"
               : "chunk (" + std::to_string(reply.size()) + " bytes)";
}

std::string WireDecoder::Describe(const sim::WireRecord& record) {
    switch (record.transfer) {
        case sim::Transfer::SetFeature: {
            const std::string step = DescribeSent(record.bytes, record.ok);
            return record.ok ? step : step + " refused";
        }
        case sim::Transfer::GetFeature:
            return record.ok ? DescribeReply(record.bytes) : "reply refused";
        case sim::Transfer::Read:
            return record.bytes.size() == 1
                       ? "status " + std::to_string(record.bytes[0])
                       : "input report (" + std::to_string(record.bytes.size()) + " bytes)";
        case sim::Transfer::Write:
            break;
    }
    return "output report (" + std::to_string(record.bytes.size()) + " bytes)" +
           (record.ok ? "" : " refused");
}

Transcript Steps(const sim::SimDevice& device) { return Decoded(device, false); }

Transcript StepsWithReplies(const sim::SimDevice& device) { return Decoded(device, true); }

std::size_t InputReportsRead(const sim::SimDevice& device) {
    return static_cast<std::size_t>(
        std::count_if(device.wire.begin(), device.wire.end(), [](const sim::WireRecord& record) {
            return record.transfer == sim::Transfer::Read;
        }));
}
