#include "sim/ControllerModel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sim/RadioModel.h"
#include "sim/Scenario.h"
#include "sim/SwdProbeModel.h"

namespace sim {

namespace {

constexpr std::size_t kHeaderSize = 48;  // image bytes the checksum skips
constexpr std::uint16_t kStatusChecksumMismatch = 1;

std::vector<ExtensionFactory>& ExtensionFactories() {
    static std::vector<ExtensionFactory> factories;
    return factories;
}

}  // namespace

ExtensionRegistration::ExtensionRegistration(ExtensionFactory factory) {
    ExtensionFactories().push_back(std::move(factory));
}

void AckChannel::Arm(std::uint16_t finalStatus, int busyPolls) {
    status = finalStatus;
    busyLeft = busyPolls;
    armed = true;
}

Bytes AckChannel::NextReport() {
    Bytes report(64, 0);
    if (armed) {
        report[0] = 0x94;
        std::uint16_t value = status;
        if (busyLeft > 0) {
            --busyLeft;
            value = 2;
        }
        report[6] = static_cast<std::uint8_t>(value);
        report[7] = static_cast<std::uint8_t>(value >> 8);
    }
    if (malformed > 0) {
        --malformed;
        report[0] = 0x55;
    }
    if (shortReplies > 0) {
        --shortReplies;
        report.resize(4);
    } else if (longReplies > 0) {
        --longReplies;
        report.resize(80, 0xEE);
    }
    return report;
}

ControllerModel::ControllerModel(Mode mode, std::uint16_t appProductId,
                                 std::uint16_t bootloaderProductId, const char* name)
    : SimDevice(kVendor, mode == Mode::Application ? appProductId : bootloaderProductId, name),
      mode(mode),
      appProductId(appProductId),
      bootloaderProductId(bootloaderProductId),
      receivedChecksum(kHeaderSize) {
    descriptor = {L"QC7F0012", 0x0104, L"Quorl", L"Quorl Wired Controller"};
    bootloaderDescriptor = {L"QC7F0012", 0x0100, L"Quorl", L"Quorl Controller Bootloader"};
    for (const ExtensionFactory& factory : ExtensionFactories()) {
        extensions.push_back(factory());
    }
}

bool ControllerModel::OnSetFeature(const Bytes& data) {
    if (data.size() < 2) {
        return false;
    }
    const std::uint8_t length = std::min<std::uint8_t>(data[1], 62);
    const Bytes payload(data.begin() + 2, data.begin() + 2 + length);
    for (auto& extension : extensions) {
        bool accepted = false;
        if (extension->OnCommand(*this, data[0], payload, accepted)) {
            return accepted;
        }
    }
    return mode == Mode::Application ? OnApplicationCommand(data[0], payload)
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
    return ack.NextReport();
}

void ControllerModel::Restart(Mode next) {
    mode = next;
    const std::uint16_t pid = next == Mode::Application ? appProductId : bootloaderProductId;
    ReenumerateAt(World::Get().NowMs() + rebootDelayMs, pid);
    ack.Disarm();
}

bool ControllerModel::OnApplicationCommand(std::uint8_t code, const Bytes& payload) {
    static const Bytes kBootloaderMagic = {0x5E, 0x71, 0xD2, 0x3A};
    switch (code) {
        case 0x95:
            if (payload == kBootloaderMagic) {
                ++rebootsIntoBootloader;
                if (!ignoreReboot) {
                    Restart(Mode::Bootloader);
                }
                return true;
            }
            return false;
        case 0x9A:
            if (payload.size() != 16) {
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
        case 0x91:
            ++updatesStarted;
            received.clear();
            receivedBytes = 0;
            receivedChecksum = ReferenceChecksummer(kHeaderSize);
            checksumReceived.reset();
            ack.Arm(startStatus, busyPolls);
            return true;
        case 0x92:
            if (!World::Get().boundedMemory) {
                received.insert(received.end(), payload.begin(), payload.end());
            }
            receivedBytes += payload.size();
            receivedChecksum.Add(payload.data(), payload.size());
            return true;
        case 0x93: {
            if (payload.size() != 16) {
                return false;
            }
            std::array<std::uint8_t, 16> sent{};
            std::copy(payload.begin(), payload.end(), sent.begin());
            checksumReceived = sent;
            std::uint16_t status =
                receivedChecksum.Value() == sent ? 0 : kStatusChecksumMismatch;
            if (verifyStatus) {
                status = *verifyStatus;
            }
            if (status == 0) {
                firmware = received;
            }
            ack.Arm(status, busyPolls);
            return true;
        }
        case 0x95:
            if (!payload.empty()) {
                return false;
            }
            ++resetsFromBootloader;
            Restart(Mode::Application);
            return true;
        case 0xA0:
            if (payload.size() != 4) {
                return false;
            }
            boardRevision = static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) |
                                                       (payload[2] << 16) | (payload[3] << 24));
            return true;
        case 0xA9:
            if (payload.size() != 17) {
                return false;
            }
            std::copy(payload.begin(), payload.begin() + 16, unitSerial.begin());
            return true;
        default:
            return false;
    }
}

}  // namespace sim

namespace sim {

bool ApplyControllerSetting(SimDevice& device, const std::string& key, const std::string& value) {
    auto& controller = static_cast<ControllerModel&>(device);
    const long number = std::atol(value.c_str());
    if (key == "busy") {
        controller.busyPolls = static_cast<int>(number);
    } else if (key == "start-status") {
        controller.startStatus = static_cast<std::uint16_t>(number);
    } else if (key == "verify-status") {
        controller.verifyStatus = static_cast<std::uint16_t>(number);
    } else if (key == "reboot-delay") {
        controller.rebootDelayMs = static_cast<std::uint32_t>(number);
    } else if (key == "fail-ack-reads") {
        controller.ack.failReads = static_cast<int>(number);
    } else if (key == "short-acks") {
        controller.ack.shortReplies = static_cast<int>(number);
    } else if (key == "malformed-acks") {
        controller.ack.malformed = static_cast<int>(number);
    } else if (key == "long-acks") {
        controller.ack.longReplies = static_cast<int>(number);
    } else if (key == "ignore-reboot") {
        controller.ignoreReboot = number != 0;
    } else {
        return ApplyRadioSetting(controller, key, value) ||
               ApplySwdProbeSetting(controller, key, value);
    }
    return true;
}

namespace {

const ModelRegistration kController(
    "controller",
    "wired controller running its application (0x1102); settings busy=N start-status=S "
    "verify-status=S reboot-delay=MS fail-ack-reads=N short-acks=N malformed-acks=N long-acks=N "
    "ignore-reboot=1 radio-app=0 radio-bootloader=0 radio-verify-status=S " +
        std::string(SwdProbeSettingsHelp()),
    [](World& world) -> SimDevice& { return world.Add<ControllerModel>(); },
    ApplyControllerSetting);

const ModelRegistration kControllerBootloader(
    "controller-bootloader", "wired controller already in its USB bootloader (0x1002); settings as controller",
    [](World& world) -> SimDevice& {
        return world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    },
    ApplyControllerSetting);

}  // namespace

}  // namespace sim
