#include "device/QuorlControllerRadioDevice.h"

#include "platform/Platform.h"

namespace {

constexpr std::uint8_t kCmdRadioUpdateBegin = 0x97;
constexpr std::uint8_t kCmdRadioData = 0x98;
constexpr std::uint8_t kCmdRadioImageChecksum = 0x99;

constexpr int kRadioChunkSize = 48;
// The radio writes its flash in 1024-byte pages: the data that opens a page,
// and the data that reaches the next one, are given the longer pause while
// the radio works on the page.
constexpr std::uint64_t kRadioPageSize = 1024;
constexpr std::uint32_t kPageEdgePauseMs = 26;
constexpr std::uint32_t kInPagePauseMs = 2;

}  // namespace

QuorlControllerRadioDevice::QuorlControllerRadioDevice(std::uint16_t productId)
    : QuorlControllerDevice(productId) {}

int QuorlControllerRadioDevice::StartFirmwareUpdate() {
    if (!IsOpen()) {
        return -1;
    }
    bytesSent = 0;
    return SendCommand(kCmdRadioUpdateBegin, nullptr, 0);
}

int QuorlControllerRadioDevice::WaitForAck(std::uint16_t& status) {
    if (verifySent) {
        return QuorlControllerDevice::WaitForAck(status);
    }
    if (verifyRefused) {
        status = 0xFFFF;
        return -1;
    }
    status = 0;
    return 0;
}

int QuorlControllerRadioDevice::SendFirmwareData(const std::uint8_t* data, int n) {
    if (!IsOpen() || n < 1 || n > kRadioChunkSize) {
        return -1;
    }
    if (SendCommand(kCmdRadioData, data, static_cast<std::uint8_t>(n)) != 0) {
        return -1;
    }
    // The sum in 64 bits, so that the page test holds even where the 32-bit
    // count wraps.
    const std::uint64_t before = bytesSent;
    const std::uint64_t after = before + static_cast<std::uint64_t>(n);
    const bool pageEdge =
        before % kRadioPageSize == 0 || before / kRadioPageSize != after / kRadioPageSize;
    platform::SleepMs(pageEdge ? kPageEdgePauseMs : kInPagePauseMs);
    bytesSent += static_cast<std::uint32_t>(n);
    return 0;
}

int QuorlControllerRadioDevice::SendImageChecksum(const std::uint8_t* checksum) {
    if (!IsOpen() || SendCommand(kCmdRadioImageChecksum, checksum, kChecksumCommandLength) != 0) {
        verifyRefused = true;
        return -1;
    }
    verifySent = true;
    return 0;
}

int QuorlControllerRadioDevice::ResetFromBootloader() { return 0; }

int QuorlControllerRadioDevice::GetTransferChunkSize() { return kRadioChunkSize; }
int QuorlControllerRadioDevice::GetImageStartOffset() { return 0; }
int QuorlControllerRadioDevice::GetChecksumPadSize() { return -1; }
int QuorlControllerRadioDevice::GetImageHeaderSize() { return 0; }
