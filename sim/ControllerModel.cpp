#include "sim/ControllerModel.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::size_t kHeaderSize = 48;  // image bytes the checksum skips
constexpr std::size_t kReportLength = 64;
constexpr std::size_t kStatusOffset = 6;
constexpr std::size_t kShortReplyLength = 4;
constexpr std::size_t kLongReplyLength = 80;

constexpr ControllerModel::Mode kApplication = ControllerModel::Mode::Application;

bool Is(const Bytes& payload, const std::array<std::uint8_t, 4>& magic) {
    return std::equal(payload.begin(), payload.end(), magic.begin(), magic.end());
}

}  // namespace

void AckChannel::Arm(std::uint16_t finalStatus, int busyPolls) {
    status = finalStatus;
    busyLeft = busyPolls;
    armed = true;
}

Bytes AckChannel::NextReport() {
    Bytes report(kReportLength, 0);
    if (armed) {
        report[0] = kAcknowledgement;
        std::uint16_t value = status;
        if (busyLeft > 0) {
            --busyLeft;
            value = kStatusBusy;
        }
        report[kStatusOffset] = static_cast<std::uint8_t>(value);
        report[kStatusOffset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    if (malformed > 0) {
        --malformed;
        report[0] = 0x55;
    }
    if (shortReplies > 0) {
        --shortReplies;
        report.resize(kShortReplyLength);
    } else if (longReplies > 0) {
        --longReplies;
        report.resize(kLongReplyLength, 0xEE);
    }
    return report;
}

ControllerModel::ControllerModel(Mode mode)
    : ControllerModel(mode, {kControllerApp, kControllerBootloader, "controller", true, true}) {
    descriptor = {L"QC7F0012", 0x0104, L"Quorl", L"Quorl Wired Controller"};
    bootloaderDescriptor = {L"QC7F0012", 0x0100, L"Quorl", L"Quorl Controller Bootloader"};
}

ControllerModel::ControllerModel(Mode mode, const Hardware& hardware)
    : SimDevice(kVendor,
                mode == kApplication ? hardware.appProductId : hardware.bootloaderProductId,
                hardware.name),
      mode(mode),
      appProductId(hardware.appProductId),
      bootloaderProductId(hardware.bootloaderProductId),
      receivedChecksum(kHeaderSize) {
    if (hardware.hasRadio) {
        radio.emplace();
    }
    if (hardware.hasSwdProbe) {
        swdProbe.emplace();
    }
}

bool ControllerModel::OfferToExtensions(std::uint8_t code, const Bytes& payload, bool& accepted) {
    for (auto& extension : extensions) {
        if (extension->OnCommand(*this, code, payload, accepted)) {
            return true;
        }
    }
    return (radio && radio->OnCommand(*this, code, payload, accepted)) ||
           (swdProbe && swdProbe->OnCommand(*this, code, payload, accepted));
}

bool ControllerModel::OnSetFeature(const Bytes& data) {
    if (data.size() < 2) {
        return false;
    }
    const std::size_t length = std::min<std::size_t>({data[1], kMaxPayload, data.size() - 2});
    const Bytes payload(data.begin() + 2, data.begin() + 2 + static_cast<long>(length));
    bool accepted = false;
    if (OfferToExtensions(data[0], payload, accepted)) {
        return accepted;
    }
    return mode == kApplication ? OnApplicationCommand(data[0], payload)
                                : OnBootloaderCommand(data[0], payload);
}

std::optional<Bytes> ControllerModel::OnGetFeature() {
    if (ack.failReads > 0) {
        --ack.failReads;
        return std::nullopt;
    }
    for (auto& extension : extensions) {
        if (std::optional<Bytes> reply = extension->OnGetFeature(*this)) {
            return reply;
        }
    }
    if (swdProbe) {
        if (std::optional<Bytes> reply = swdProbe->OnGetFeature(*this)) {
            return reply;
        }
    }
    return ack.NextReport();
}

void ControllerModel::Restart(Mode next) {
    mode = next;
    const std::uint16_t pid = next == kApplication ? appProductId : bootloaderProductId;
    ReenumerateAt(World::Get().NowMs() + rebootDelayMs, pid);
    ack.Disarm();
}

bool ControllerModel::OnApplicationCommand(std::uint8_t code, const Bytes& payload) {
    switch (code) {
        case kRestart:
            if (!Is(payload, kBootloaderMagic)) {
                return false;
            }
            ++rebootsIntoBootloader;
            if (!ignoreReboot) {
                Restart(Mode::Bootloader);
            }
            return true;
        case kEmcRecord:
            if (payload.size() != kEmcRecordLength) {
                return false;
            }
            emcRecords.push_back(payload);
            return true;
        default:
            return false;
    }
}

bool ControllerModel::OnBootloaderCommand(std::uint8_t code, const Bytes& payload) {
    switch (code) {
        case kStartUpdate:
            ++updatesStarted;
            received.clear();
            receivedBytes = 0;
            receivedChecksum = ReferenceChecksummer(kHeaderSize);
            checksumReceived.reset();
            ack.Arm(startStatus, busyPolls);
            return true;
        case kImageData:
            if (!World::Get().boundedMemory) {
                received.insert(received.end(), payload.begin(), payload.end());
            }
            receivedBytes += payload.size();
            receivedChecksum.Add(payload.data(), payload.size());
            return true;
        case kImageChecksum: {
            if (payload.size() != kChecksumLength) {
                return false;
            }
            std::array<std::uint8_t, kChecksumLength> sent{};
            std::copy(payload.begin(), payload.end(), sent.begin());
            checksumReceived = sent;
            std::uint16_t status = receivedChecksum.Value() == sent ? kStatusOk : kStatusFailed;
            if (verifyStatus) {
                status = *verifyStatus;
            }
            if (status == kStatusOk) {
                firmware = received;
            }
            ack.Arm(status, busyPolls);
            return true;
        }
        case kRestart:
            if (!payload.empty()) {
                return false;
            }
            ++resetsFromBootloader;
            Restart(kApplication);
            return true;
        case kBoardRevision:
            if (payload.size() != 4) {
                return false;
            }
            boardRevision = static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) |
                                                       (payload[2] << 16) | (payload[3] << 24));
            return true;
        case kUnitSerial:
            if (payload.size() != kUnitSerialLength + 1) {
                return false;
            }
            std::copy(payload.begin(), payload.begin() + kUnitSerialLength, unitSerial.begin());
            if (!serialWriteLost) {
                const auto end = std::find(unitSerial.begin(), unitSerial.end(), 0);
                const std::wstring serial(unitSerial.begin(), end);
                descriptor.serialNumber = serial;
                bootloaderDescriptor.serialNumber = serial;
            }
            return true;
        default:
            return false;
    }
}

}  // namespace sim
