#include "sim/RadioModel.h"

#include <algorithm>

#include "sim/ControllerModel.h"
#include "sim/WireNames.h"

namespace sim {

namespace {

// The radio image is checksummed from its first byte, with no 0xFF padding.
constexpr long long kRadioPadSize = -1;

}  // namespace

bool RadioModel::OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                           bool& accepted) {
    if (code != kRadioBegin && code != kRadioData && code != kRadioChecksum) {
        return false;
    }
    accepted = false;
    const bool taken = host.mode == ControllerModel::Mode::Application ? takenByApplication
                                                                        : takenByBootloader;
    if (!taken) {
        return true;
    }
    switch (code) {
        case kRadioBegin:
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
            if (payload.size() != kChecksumLength) {
                break;
            }
            std::array<std::uint8_t, kChecksumLength> sent{};
            std::copy(payload.begin(), payload.end(), sent.begin());
            checksumReceived = sent;
            std::uint16_t status =
                receivedChecksum.Value(kRadioPadSize) == sent ? kStatusOk : kStatusFailed;
            if (verifyStatus) {
                status = *verifyStatus;
            }
            if (status == kStatusOk) {
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

}  // namespace sim
