#include "sim/SwdProbeModel.h"

#include <algorithm>

#include "sim/ControllerModel.h"
#include "sim/WireNames.h"

namespace sim {

namespace {

constexpr std::size_t kShortReplyLength = 3;
constexpr std::size_t kReportLength = 64;
constexpr ControllerModel::Mode kApplication = ControllerModel::Mode::Application;

std::uint32_t AddressOf(const Bytes& payload) {
    return static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) | (payload[2] << 16) |
                                      (static_cast<std::uint32_t>(payload[3]) << 24));
}

}  // namespace

bool SwdProbeModel::Active(const ControllerModel& host) const {
    return swdMode && host.Generation() == swdGeneration && host.mode == kApplication;
}

bool SwdProbeModel::OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                              bool& accepted) {
    if (host.mode != kApplication) {
        return false;
    }
    if (code == kRestart && payload.empty()) {
        // The application restarts, and the probe with it.
        ++restarts;
        swdMode = false;
        pendingReadReply.reset();
        lastReadReply.reset();
        host.ReenumerateAt(World::Get().NowMs() + host.rebootDelayMs, host.appProductId);
        host.ack.Disarm();
        accepted = true;
        return true;
    }
    if (code < kSwdStart || code > kSwdEnd) {
        return false;
    }
    pendingReadReply.reset();
    if (code == kSwdStart) {
        accepted = std::equal(payload.begin(), payload.end(), kSwdStartMagic.begin(),
                              kSwdStartMagic.end());
        if (accepted) {
            ++starts;
            const bool fails = startFailures > 0;
            startFailures -= fails ? 1 : 0;
            swdMode = !fails;
            swdGeneration = host.Generation();
            host.ack.Arm(fails ? kStatusFailed : kStatusOk, host.busyPolls);
        }
        return true;
    }
    accepted = Active(host) && OnSwdRequest(host, code, payload);
    return true;
}

bool SwdProbeModel::OnSwdRequest(ControllerModel& host, std::uint8_t code, const Bytes& payload) {
    switch (code) {
        case kSwdWrite:
            if (payload.size() < kSwdAddressLength) {
                return false;
            }
            host.ack.Arm(Write(payload), host.busyPolls);
            return true;
        case kSwdRead: {
            if (payload.size() != kSwdAddressLength + 1 ||
                payload[kSwdAddressLength] > kMaxSwdReadLength) {
                return false;
            }
            const std::size_t n = payload[kSwdAddressLength];
            const Bytes data = flash.Read(AddressOf(payload), n);
            if (data.size() != n) {
                return false;
            }
            // The whole 64-byte report: command, length, address, data.
            Bytes reply(kReportLength, 0);
            reply[0] = kSwdRead;
            reply[1] = readReplyLength.value_or(static_cast<std::uint8_t>(kSwdAddressLength + n));
            const std::uint32_t named = readReplyAddress.value_or(AddressOf(payload));
            for (std::size_t i = 0; i < kSwdAddressLength; ++i) {
                reply[2 + i] = static_cast<std::uint8_t>(named >> (8 * i));
            }
            std::copy(data.begin(), data.end(), reply.begin() + 2 + kSwdAddressLength);
            pendingReadReply = reply;
            return true;
        }
        case kSwdEraseSector:
            if (payload.size() != kSwdAddressLength) {
                return false;
            }
            host.ack.Arm(EraseSector(payload), host.busyPolls);
            return true;
        case kSwdEraseChip: {
            if (!payload.empty()) {
                return false;
            }
            const bool fails = chipEraseFailures > 0;
            if (fails) {
                --chipEraseFailures;
            } else {
                flash.EraseAll();
            }
            host.ack.Arm(fails ? kStatusFailed : kStatusOk, host.busyPolls);
            return true;
        }
        case kSwdEnd:
            if (!payload.empty() || refuseEnd) {
                return false;
            }
            ++ends;
            swdMode = false;
            return true;
        default:
            return false;
    }
}

std::uint16_t SwdProbeModel::Write(const Bytes& payload) {
    const std::uint32_t address = AddressOf(payload);
    const Bytes data(payload.begin() + kSwdAddressLength, payload.end());
    if (failWriteAt && *failWriteAt >= address && *failWriteAt - address < data.size()) {
        return kStatusFailed;
    }
    return flash.Write(address, data) ? kStatusOk : kStatusFailed;
}

std::uint16_t SwdProbeModel::EraseSector(const Bytes& payload) {
    const std::uint32_t address = AddressOf(payload);
    const std::uint32_t page = address / RadioFlashModel::kPageSize;
    if (failEraseAt && *failEraseAt / RadioFlashModel::kPageSize == page) {
        return kStatusFailed;
    }
    return flash.ErasePage(address) ? kStatusOk : kStatusFailed;
}

std::optional<Bytes> SwdProbeModel::OnGetFeature(ControllerModel& /*host*/) {
    if (!pendingReadReply) {
        return std::nullopt;
    }
    if (withheldReadReplies > 0) {
        --withheldReadReplies;
        return std::nullopt;
    }
    if (shortReadReplies > 0) {
        --shortReadReplies;
        return Bytes(pendingReadReply->begin(), pendingReadReply->begin() + kShortReplyLength);
    }
    if (staleReadReplies > 0 && lastReadReply) {
        --staleReadReplies;
        return lastReadReply;
    }
    lastReadReply.swap(pendingReadReply);
    pendingReadReply.reset();
    return lastReadReply;
}

}  // namespace sim
