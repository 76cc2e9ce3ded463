#include "device/QuorlControllerRadioSWDDevice.h"

#include <array>
#include <cstring>
#include <iostream>

#include "platform/Platform.h"

namespace {

constexpr std::uint8_t kCmdSwdStart = 0xC6;
constexpr std::uint8_t kCmdSwdWrite = 0xC7;
constexpr std::uint8_t kCmdSwdRead = 0xC8;
constexpr std::uint8_t kCmdSwdEraseSector = 0xC9;
constexpr std::uint8_t kCmdSwdEraseChip = 0xCA;
constexpr std::uint8_t kCmdSwdEnd = 0xCB;
constexpr std::uint8_t kCmdRestart = 0x95;

constexpr std::array<std::uint8_t, 4> kSwdStartMagic = {0x9C, 0x4E, 0x27, 0xB5};

// Time each operation needs on the probe before its acknowledgement is worth polling.
constexpr std::uint32_t kStartPauseMs = 6;
constexpr std::uint32_t kWritePauseMs = 1;
constexpr std::uint32_t kErasePauseMs = 23;

constexpr int kReadPolls = 100;
constexpr std::uint32_t kReadPollPauseMs = 6;
// Command byte, length byte and the 4-byte address come before a reply's data.
constexpr std::size_t kReadReplyAddressAt = 2;
constexpr int kReadReplyHeader = 6;
constexpr std::size_t kAddressLength = 4;

void PutAddress(std::uint8_t* out, std::uint32_t address) {
    for (std::size_t i = 0; i < kAddressLength; ++i) {
        out[i] = static_cast<std::uint8_t>(address >> (8 * i));
    }
}

std::uint32_t GetAddress(const std::uint8_t* in) {
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < kAddressLength; ++i) {
        address |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return address;
}

}  // namespace

QuorlControllerRadioSWDDevice::QuorlControllerRadioSWDDevice(std::uint16_t productId)
    : QuorlControllerDevice(productId) {}

int QuorlControllerRadioSWDDevice::SendAcknowledged(std::uint8_t code, const std::uint8_t* payload,
                                                    std::uint8_t n, std::uint32_t pauseMs) {
    if (!IsOpen() || SendCommand(code, payload, n) != 0) {
        return -1;
    }
    platform::SleepMs(pauseMs);
    std::uint16_t status = 0xFFFF;
    WaitForAck(status);
    // A failed wait leaves 0xFFFF and a wait that ran out leaves the busy
    // status: only a final success counts.
    return status == 0 ? 0 : -1;
}

int QuorlControllerRadioSWDDevice::StartFirmwareUpdate() {
    return SendAcknowledged(kCmdSwdStart, kSwdStartMagic.data(), kSwdStartMagic.size(),
                            kStartPauseMs);
}

int QuorlControllerRadioSWDDevice::SendImageChecksum(const std::uint8_t* /*checksum*/) {
    if (!IsOpen()) {
        return -1;
    }
    return SendCommand(kCmdSwdEnd, nullptr, 0);
}

int QuorlControllerRadioSWDDevice::ResetFromBootloader() {
    return SendCommand(kCmdRestart, nullptr, 0);
}

int QuorlControllerRadioSWDDevice::GetTransferChunkSize() { return kSwdMaxWriteLength; }
int QuorlControllerRadioSWDDevice::GetImageStartOffset() { return 0; }
int QuorlControllerRadioSWDDevice::GetChecksumPadSize() { return -1; }
int QuorlControllerRadioSWDDevice::GetImageHeaderSize() { return 0; }

int QuorlControllerRadioSWDDevice::SwdWriteMemory(std::uint32_t address, const std::uint8_t* data,
                                                  int n) {
    if (n < 0 || n > kSwdMaxWriteLength) {
        return -1;
    }
    std::array<std::uint8_t, kAddressLength + kSwdMaxWriteLength> payload{};
    PutAddress(payload.data(), address);
    if (n > 0) {
        std::memcpy(payload.data() + kAddressLength, data, static_cast<std::size_t>(n));
    }
    return SendAcknowledged(kCmdSwdWrite, payload.data(),
                            static_cast<std::uint8_t>(kAddressLength + n), kWritePauseMs);
}

int QuorlControllerRadioSWDDevice::SwdReadMemory(std::uint8_t* destination, std::uint32_t address,
                                                 std::uint8_t n) {
    if (!IsOpen() || n > kSwdMaxReadLength) {
        return -1;
    }
    std::array<std::uint8_t, kAddressLength + 1> request{};
    PutAddress(request.data(), address);
    request[kAddressLength] = n;
    if (SendCommand(kCmdSwdRead, request.data(), request.size()) != 0) {
        std::cout << "Write for the read didn't work." << std::endl;
        return -1;
    }
    // The data stands behind the reply's header, so the whole reply is fetched.
    const std::int32_t wanted = kReadReplyHeader + n;
    for (int poll = 1;; ++poll) {
        std::array<std::uint8_t, kQuorlReportLength> reply{};
        const std::int32_t r = GetFeatureReport(0, reply.data(), static_cast<std::uint32_t>(wanted));
        // A reply still holding an earlier read carries that read's address
        // (after the command and length bytes): it is not this read's answer.
        const bool thisRead = reply[0] == kCmdSwdRead &&
                              GetAddress(reply.data() + kReadReplyAddressAt) == address;
        if (r >= wanted && thisRead) {
            std::memcpy(destination, reply.data() + kReadReplyHeader, n);
            return 0;
        }
        if (r >= 0 && r < wanted) {
            std::cout << "Got response, length " << r << " and ID " << static_cast<char>(reply[0])
                      << std::endl;
        }
        if (poll == kReadPolls) {
            return -1;
        }
        platform::SleepMs(kReadPollPauseMs);
    }
}

int QuorlControllerRadioSWDDevice::SwdEraseSector(std::uint32_t address) {
    std::array<std::uint8_t, kAddressLength> payload{};
    PutAddress(payload.data(), address);
    return SendAcknowledged(kCmdSwdEraseSector, payload.data(), payload.size(), kErasePauseMs);
}

int QuorlControllerRadioSWDDevice::SwdEraseChip() {
    return SendAcknowledged(kCmdSwdEraseChip, nullptr, 0, kErasePauseMs);
}
