#include "sim/RadioModel.h"

#include <algorithm>
#include <cstdlib>


namespace sim {

namespace {

constexpr std::uint8_t kRadioUpdateBegin = 0x97;
constexpr std::uint8_t kRadioData = 0x98;
constexpr std::uint8_t kRadioImageChecksum = 0x99;
constexpr std::size_t kMaxRadioData = 48;
constexpr std::uint16_t kStatusChecksumMismatch = 1;
// The radio image is checksummed from its first byte, with no 0xFF padding.
constexpr long long kRadioPadSize = -1;

const ExtensionRegistration kRadioExtension([] { return std::make_unique<RadioModel>(); });

}  // namespace

bool RadioModel::OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                           bool& accepted) {
    if (code != kRadioUpdateBegin && code != kRadioData && code != kRadioImageChecksum) {
        return false;
    }
    accepted = false;
    const bool taken = host.mode == ControllerModel::Mode::Application ? takenByApplication
                                                                        : takenByBootloader;
    if (!taken) {
        return true;
    }
    switch (code) {
        case kRadioUpdateBegin:
            ++updatesStarted;
            received.clear();
            receivedBytes = 0;
            receivedChecksum = ReferenceChecksummer();
            checksumReceived.reset();
            accepted = true;
            break;
        case kRadioData:
            if (payload.empty() || payload.size() > kMaxRadioData) {
                break;
            }
            if (!World::Get().boundedMemory) {
                received.insert(received.end(), payload.begin(), payload.end());
            }
            receivedBytes += payload.size();
            receivedChecksum.Add(payload.data(), payload.size());
            accepted = true;
            break;
        default: {
            if (payload.size() != 16) {
                break;
            }
            std::array<std::uint8_t, 16> sent{};
            std::copy(payload.begin(), payload.end(), sent.begin());
            checksumReceived = sent;
            std::uint16_t status = receivedChecksum.Value(kRadioPadSize) == sent
                                       ? 0
                                       : kStatusChecksumMismatch;
            if (verifyStatus) {
                status = *verifyStatus;
            }
            if (status == 0) {
                firmware = received;
                ++updatesInstalled;
            }
            host.ack.Arm(status, host.busyPolls);
            accepted = true;
            break;
        }
    }
    return true;
}

bool ApplyRadioSetting(ControllerModel& host, const std::string& key, const std::string& value) {
    RadioModel* radio = host.Extension<RadioModel>();
    if (radio == nullptr) {
        return false;
    }
    const long number = std::atol(value.c_str());
    if (key == "radio-app") {
        radio->takenByApplication = number != 0;
    } else if (key == "radio-bootloader") {
        radio->takenByBootloader = number != 0;
    } else if (key == "radio-verify-status") {
        radio->verifyStatus = static_cast<std::uint16_t>(number);
    } else {
        return false;
    }
    return true;
}

}  // namespace sim
