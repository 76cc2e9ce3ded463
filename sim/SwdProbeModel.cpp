#include "sim/SwdProbeModel.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace sim {

namespace {

constexpr std::uint8_t kSwdStart = 0xC6;
constexpr std::uint8_t kSwdWrite = 0xC7;
constexpr std::uint8_t kSwdRead = 0xC8;
constexpr std::uint8_t kSwdEraseSector = 0xC9;
constexpr std::uint8_t kSwdEraseChip = 0xCA;
constexpr std::uint8_t kSwdEnd = 0xCB;
constexpr std::uint8_t kRestart = 0x95;

const Bytes kSwdStartMagic = {0x9C, 0x4E, 0x27, 0xB5};
constexpr std::size_t kAddressLength = 4;
constexpr std::size_t kMaxReadLength = 58;
constexpr std::size_t kShortReplyLength = 3;

std::uint32_t AddressOf(const Bytes& payload) {
    return static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) | (payload[2] << 16) |
                                      (static_cast<std::uint32_t>(payload[3]) << 24));
}

bool RunsControllerApplication(const ControllerModel& host) {
    return host.mode == ControllerModel::Mode::Application && host.productId == kControllerApp;
}

const ExtensionRegistration kSwdProbe([] { return std::make_unique<SwdProbeModel>(); });

}  // namespace

bool SwdProbeModel::Active(const ControllerModel& host) const {
    return swdMode && host.Generation() == swdGeneration && RunsControllerApplication(host);
}

bool SwdProbeModel::OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                              bool& accepted) {
    if (!RunsControllerApplication(host)) {
        return false;
    }
    if (code == kRestart && payload.empty()) {
        // The application restarts, and the probe with it.
        ++restarts;
        swdMode = false;
        pendingReadReply.reset();
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
        accepted = payload == kSwdStartMagic;
        if (accepted) {
            ++starts;
            const bool fails = startFailures > 0;
            startFailures -= fails ? 1 : 0;
            swdMode = !fails;
            swdGeneration = host.Generation();
            host.ack.Arm(fails ? kFailedStatus : 0, host.busyPolls);
        }
        return true;
    }
    accepted = Active(host) && OnSwdRequest(host, code, payload);
    return true;
}

bool SwdProbeModel::OnSwdRequest(ControllerModel& host, std::uint8_t code, const Bytes& payload) {
    switch (code) {
        case kSwdWrite:
            if (payload.size() < kAddressLength) {
                return false;
            }
            host.ack.Arm(Write(payload), host.busyPolls);
            return true;
        case kSwdRead: {
            if (payload.size() != kAddressLength + 1 || payload[kAddressLength] > kMaxReadLength) {
                return false;
            }
            const std::size_t n = payload[kAddressLength];
            const Bytes data = flash.Read(AddressOf(payload), n);
            if (data.size() != n) {
                return false;
            }
            // The whole 64-byte report: command, length, address, data.
            Bytes reply(64, 0);
            reply[0] = kSwdRead;
            reply[1] = static_cast<std::uint8_t>(kAddressLength + n);
            std::copy(payload.begin(), payload.begin() + kAddressLength, reply.begin() + 2);
            std::copy(data.begin(), data.end(), reply.begin() + 2 + kAddressLength);
            pendingReadReply = reply;
            return true;
        }
        case kSwdEraseSector:
            if (payload.size() != kAddressLength) {
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
            host.ack.Arm(fails ? kFailedStatus : 0, host.busyPolls);
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
    const Bytes data(payload.begin() + kAddressLength, payload.end());
    if (failWriteAt && *failWriteAt >= address && *failWriteAt - address < data.size()) {
        return kFailedStatus;
    }
    return flash.Write(address, data) ? 0 : kFailedStatus;
}

std::uint16_t SwdProbeModel::EraseSector(const Bytes& payload) {
    const std::uint32_t address = AddressOf(payload);
    const std::uint32_t page = address / RadioFlashModel::kPageSize;
    if (failEraseAt && *failEraseAt / RadioFlashModel::kPageSize == page) {
        return kFailedStatus;
    }
    return flash.ErasePage(address) ? 0 : kFailedStatus;
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
    std::optional<Bytes> reply;
    reply.swap(pendingReadReply);
    return reply;
}

bool ApplySwdProbeSetting(ControllerModel& controller, const std::string& key,
                          const std::string& value) {
    auto* probe = controller.Extension<SwdProbeModel>();
    if (probe == nullptr) {
        return false;
    }
    // Counts in decimal; addresses also as 0x... hexadecimal.
    const auto number = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    if (key == "swd-start-failures") {
        probe->startFailures = static_cast<int>(number);
    } else if (key == "swd-fail-write-at") {
        probe->failWriteAt = number;
    } else if (key == "swd-fail-erase-at") {
        probe->failEraseAt = number;
    } else if (key == "swd-chip-erase-failures") {
        probe->chipEraseFailures = static_cast<int>(number);
    } else if (key == "swd-flash-fill") {
        // An earlier firmware in the radio: every byte programmed to this value.
        probe->flash.Fill({static_cast<std::uint8_t>(number)});
    } else {
        return false;
    }
    return true;
}

const char* SwdProbeSettingsHelp() {
    return "swd-start-failures=N swd-fail-write-at=ADDR swd-fail-erase-at=ADDR "
           "swd-chip-erase-failures=N swd-flash-fill=BYTE";
}

}  // namespace sim
