#include "device/QuorlControllerDevice.h"

#include <array>
#include <cstring>
#include <iostream>

#include "device/DebugOutput.h"
#include "platform/Platform.h"

bool g_debugOutput = false;

namespace {

constexpr std::uint8_t kCmdRebootIntoIsp = 0x90;
constexpr std::uint8_t kCmdStartFirmwareUpdate = 0x91;
constexpr std::uint8_t kCmdFirmwareData = 0x92;
constexpr std::uint8_t kCmdImageChecksum = 0x93;
constexpr std::uint8_t kAcknowledgement = 0x94;
constexpr std::uint8_t kCmdRebootOrReset = 0x95;
constexpr std::uint8_t kCmdEmcTest = 0x9A;
constexpr std::uint8_t kCmdBoardRevision = 0xA0;
constexpr std::uint8_t kCmdUnitSerial = 0xA9;

constexpr std::array<std::uint8_t, 4> kIspMagic = {'p', 'u', 'x', '!'};
constexpr std::array<std::uint8_t, 4> kBootloaderMagic = {0x5E, 0x71, 0xD2, 0x3A};

constexpr std::uint16_t kAckStatusBusy = 2;
constexpr int kAckPolls = 100;
constexpr std::uint32_t kAckPollPauseMs = 6;
constexpr std::uint32_t kSettlePauseMs = 100;
constexpr std::uint32_t kAckReportLength = 8;

}  // namespace

QuorlControllerDevice::QuorlControllerDevice(std::uint16_t productId)
    : HidDevice(kQuorlVendorId, productId, kQuorlReportLength) {}

int QuorlControllerDevice::SendCommand(std::uint8_t code, const std::uint8_t* payload,
                                       std::uint8_t n) {
    std::array<std::uint8_t, kQuorlReportLength> msg{};
    msg[0] = code;
    msg[1] = n;
    if (n > 0) {
        std::memcpy(msg.data() + 2, payload, n);
    }
    return SetFeatureReport(0, msg.data(), n + 2u) ? 0 : -1;
}

int QuorlControllerDevice::RebootIntoIsp() {
    if (!IsOpen()) {
        return -1;
    }
    return SendCommand(kCmdRebootIntoIsp, kIspMagic.data(), kIspMagic.size());
}

int QuorlControllerDevice::RebootIntoBootloader() {
    return SendCommand(kCmdRebootOrReset, kBootloaderMagic.data(), kBootloaderMagic.size());
}

int QuorlControllerDevice::StartFirmwareUpdate() {
    if (!IsOpen() || SendCommand(kCmdStartFirmwareUpdate, nullptr, 0) != 0) {
        return -1;
    }
    platform::SleepMs(kSettlePauseMs);
    return 0;
}

int QuorlControllerDevice::WaitForAck(std::uint16_t& status) {
    if (!IsOpen()) {
        return -1;
    }
    int pollsLeft = kAckPolls;
    const auto fail = [&] {
        if (g_debugOutput) {
            std::cerr << "ack failed " << " retries " << (kAckPolls - pollsLeft) << std::endl;
        }
        status = 0xFFFF;
        return -1;
    };
    for (;;) {
        std::array<std::uint8_t, kAckReportLength> report{};
        if (GetFeatureReport(0, report.data(), report.size()) <
            static_cast<std::int32_t>(kAckReportLength)) {
            return fail();
        }
        const std::uint16_t reportStatus =
            static_cast<std::uint16_t>(report[6] | (report[7] << 8));
        const bool acknowledgement = report[0] == kAcknowledgement;
        if (!(acknowledgement && reportStatus != kAckStatusBusy) && --pollsLeft > 0) {
            platform::SleepMs(kAckPollPauseMs);
            continue;
        }
        // Polls that ran out on a busy device end with its status (2); a
        // hundred reports without one acknowledgement must not pass for
        // success, whatever their status bytes hold.
        if (!acknowledgement) {
            return fail();
        }
        status = reportStatus;
        if (g_debugOutput) {
            std::cerr << "ack " << status << " retries " << (kAckPolls - pollsLeft) << std::endl;
        }
        return 0;
    }
}

int QuorlControllerDevice::SendFirmwareData(const std::uint8_t* data, int n) {
    if (!IsOpen() || n < 0 || n > static_cast<int>(kQuorlReportLength) - 2) {
        return -1;
    }
    return SendCommand(kCmdFirmwareData, data, static_cast<std::uint8_t>(n));
}

int QuorlControllerDevice::SendImageChecksum(const std::uint8_t* checksum) {
    if (!IsOpen() || SendCommand(kCmdImageChecksum, checksum, kChecksumCommandLength) != 0) {
        return -1;
    }
    platform::SleepMs(kSettlePauseMs);
    return 0;
}

int QuorlControllerDevice::ResetFromBootloader() {
    if (!IsOpen()) {
        return -1;
    }
    return SendCommand(kCmdRebootOrReset, nullptr, 0);
}

int QuorlControllerDevice::SetBoardRevision(std::uint32_t revision) {
    if (!IsOpen()) {
        return -1;
    }
    const std::array<std::uint8_t, 4> payload = {
        static_cast<std::uint8_t>(revision), static_cast<std::uint8_t>(revision >> 8),
        static_cast<std::uint8_t>(revision >> 16), static_cast<std::uint8_t>(revision >> 24)};
    return SendCommand(kCmdBoardRevision, payload.data(), payload.size());
}

int QuorlControllerDevice::SetUnitSerial(const char* serial) {
    if (!IsOpen()) {
        return -1;
    }
    // The serial, NUL-padded to 16 bytes, then a terminating zero.
    std::array<std::uint8_t, kUnitSerialLength + 1> payload{};
    std::memcpy(payload.data(), serial, strnlen(serial, kUnitSerialLength));
    return SendCommand(kCmdUnitSerial, payload.data(), payload.size());
}

int QuorlControllerDevice::GetTransferChunkSize() { return 50; }
int QuorlControllerDevice::GetImageStartOffset() { return 8192; }
int QuorlControllerDevice::GetChecksumPadSize() { return 0; }
int QuorlControllerDevice::GetImageHeaderSize() { return 48; }

int QuorlControllerDevice::SendEmcCommand(const std::uint8_t* record) {
    return SendCommand(kCmdEmcTest, record, kEmcRecordLength);
}
