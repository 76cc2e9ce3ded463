#include "device/QuorlDongleDevice.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/files/Files.h"
#include "platform/console/TransferProgress.h"

namespace {

constexpr std::uint8_t kCmdGetVersion = 0x01;
constexpr std::uint8_t kCmdWritePage = 0x02;
constexpr std::uint8_t kCmdRead = 0x03;
constexpr std::uint8_t kCmdSelect = 0x06;
constexpr std::array<std::uint8_t, 4> kResetCommand = {0x07, 'R', 'S', 'T'};
constexpr std::array<std::uint8_t, 3> kBootGuard = {0x02, 0x78, 0x00};

constexpr std::uint32_t kVersionReplyLength = 2;
// A page is written as 8 data reports and read back as 8 chunks.
constexpr std::uint32_t kChunksPerPage = kDonglePageSize / kDongleChunkSize;
constexpr int kStatusTimeoutMs = 100;
constexpr int kStatusPolls = 100;
constexpr int kSyncReadCommands = 8;
constexpr int kPageWriteAttempts = 3;
// One byte more than a report holds: hidraw cuts a report to the buffer, and
// only a report of exactly one byte is a status byte.
constexpr std::size_t kStatusBufferLength = kQuorlReportLength + 1;

using PageBuffer = std::array<std::uint8_t, kDonglePageSize>;

// Up to one page of the image from the current position; -1 on a read error.
long ReadImagePage(std::FILE* file, PageBuffer& rgucPage) {
    const std::size_t n = std::fread(rgucPage.data(), 1, rgucPage.size(), file);
    return std::ferror(file) ? -1 : static_cast<long>(n);
}

}  // namespace

// The status byte comes as an input report: a handle without access rights
// is of no use.
QuorlDongleDevice::QuorlDongleDevice(std::uint16_t productId)
    : HidDevice(kQuorlVendorId, productId, kQuorlReportLength, true) {}

bool QuorlDongleDevice::SendCommand(const std::uint8_t* command, std::uint32_t length) {
    return SetFeatureReport(0, command, length);
}

bool QuorlDongleDevice::SendAcknowledged(const std::uint8_t* command, std::uint32_t length) {
    return SendCommand(command, length) && WaitForStatusChange() == 0;
}

bool QuorlDongleDevice::Open() {
    lastStatus = -1;
    if (!HidDevice::Open() || !SyncStatus()) {
        return false;
    }
    for (int i = 0; i < kSyncReadCommands; ++i) {
        SendReadCommand(0);
    }
    return true;
}

int QuorlDongleDevice::ReadStatus() {
    if (handle == nullptr) {
        return lastStatus;
    }
    std::array<unsigned char, kStatusBufferLength> read_buf{};
    const int count = Transfer([&](hid_device* device) {
        return hid_read_timeout(device, read_buf.data(), read_buf.size(), kStatusTimeoutMs);
    });
    return count == 1 ? read_buf[0] : lastStatus;
}

int QuorlDongleDevice::WaitForStatusChange() {
    for (int poll = 0; poll < kStatusPolls; ++poll) {
        const int status = ReadStatus();
        if (status != lastStatus) {
            lastStatus = status;
            return 0;
        }
    }
    return -1;
}

bool QuorlDongleDevice::SyncStatus() {
    if (ReadStatus() == -1) {
        return false;
    }
    const int status = ReadStatus();
    if (status == -1) {
        return false;
    }
    lastStatus = status;
    return true;
}

bool QuorlDongleDevice::GetBootloaderVersion(std::uint8_t& major, std::uint8_t& minor) {
    major = 0;
    minor = 0;
    const std::uint8_t ucVersionCmd = kCmdGetVersion;
    if (!SendAcknowledged(&ucVersionCmd, 1)) {
        return false;
    }
    std::array<std::uint8_t, kVersionReplyLength> rgucVersion{};
    if (GetFeatureReport(0, rgucVersion.data(), rgucVersion.size()) !=
        static_cast<std::int32_t>(kVersionReplyLength)) {
        return false;
    }
    major = rgucVersion[0];
    minor = rgucVersion[1];
    return true;
}

bool QuorlDongleDevice::SendSelectCommand(std::uint32_t chunk) {
    const std::array<std::uint8_t, 2> rgucSelectCmd = {kCmdSelect,
                                                       static_cast<std::uint8_t>(chunk >> 8)};
    return SendAcknowledged(rgucSelectCmd.data(), rgucSelectCmd.size());
}

bool QuorlDongleDevice::SendReadCommand(std::uint32_t chunk) {
    const std::array<std::uint8_t, 2> rgucReadCmd = {kCmdRead, static_cast<std::uint8_t>(chunk)};
    return SendAcknowledged(rgucReadCmd.data(), rgucReadCmd.size());
}

bool QuorlDongleDevice::ReadChunk(std::uint32_t chunk, std::uint8_t* destination,
                                  std::uint32_t length) {
    if (SendSelectCommand(chunk) && SendReadCommand(chunk) &&
        GetFeatureReport(0, destination, length) > 0) {
        return true;
    }
    std::memset(destination, 0xFF, length);
    return false;
}

bool QuorlDongleDevice::WritePage(std::uint32_t page, const std::uint8_t* data,
                                  std::uint32_t length) {
    const std::array<std::uint8_t, 2> rgucCmd = {kCmdWritePage, static_cast<std::uint8_t>(page)};
    if (!SendAcknowledged(rgucCmd.data(), rgucCmd.size())) {
        return false;
    }
    // The whole page always goes out; the dongle takes 0xFF as erased flash.
    for (std::uint32_t report = 0; report < kChunksPerPage; ++report) {
        std::array<std::uint8_t, kDongleChunkSize> rgucData;
        rgucData.fill(0xFF);
        const std::uint32_t n = std::min(length, kDongleChunkSize);
        if (n > 0) {
            std::memcpy(rgucData.data(), data, n);
            data += n;
            length -= n;
        }
        if (!SendAcknowledged(rgucData.data(), rgucData.size())) {
            return false;
        }
    }
    return true;
}

bool QuorlDongleDevice::VerifyPage(std::uint32_t page, const std::uint8_t* data,
                                   std::uint32_t length) {
    for (std::uint32_t chunk = page * kChunksPerPage; length > 0; ++chunk) {
        std::array<std::uint8_t, kDongleChunkSize> rgucData;
        if (!ReadChunk(chunk, rgucData.data(), rgucData.size())) {
            return false;
        }
        const std::uint32_t n = std::min(length, kDongleChunkSize);
        if (std::memcmp(rgucData.data(), data, n) != 0) {
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

bool QuorlDongleDevice::WritePageVerified(std::uint32_t page, const std::uint8_t* data,
                                          std::uint32_t length) {
    for (int attempt = 0; attempt < kPageWriteAttempts; ++attempt) {
        if (WritePage(page, data, length) && VerifyPage(page, data, length)) {
            return true;
        }
    }
    return false;
}

bool QuorlDongleDevice::HasBootGuard() {
    std::array<std::uint8_t, kBootGuard.size()> ucData;
    return ReadChunk(0, ucData.data(), ucData.size()) && ucData == kBootGuard;
}

bool QuorlDongleDevice::WriteBootGuard() {
    return WritePage(0, kBootGuard.data(), kBootGuard.size()) && HasBootGuard();
}

bool QuorlDongleDevice::UpgradeFromFile(std::FILE* firmware, std::uint64_t size) {
    if (!HasBootGuard() && !WriteBootGuard()) {
        return false;
    }
    PageBuffer rgucPage;
    if (!platform::SeekFile(firmware, kDonglePageSize)) {
        return false;
    }
    TransferProgress progress(size);
    for (std::uint32_t page = 1;; ++page) {
        const long n = ReadImagePage(firmware, rgucPage);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        // The file grew since it was measured: still never wrap onto page 0.
        if (page >= kDonglePageCount ||
            !WritePageVerified(page, rgucPage.data(), static_cast<std::uint32_t>(n))) {
            return false;
        }
        progress.Advance(static_cast<std::uint64_t>(n));
    }
    std::clearerr(firmware);
    if (!platform::SeekFile(firmware, 0)) {
        return false;
    }
    const long n = ReadImagePage(firmware, rgucPage);
    if (n < 0 || (n > 0 && !WritePageVerified(0, rgucPage.data(), static_cast<std::uint32_t>(n)))) {
        return false;
    }
    progress.Advance(static_cast<std::uint64_t>(n));
    return true;
}

bool QuorlDongleDevice::ResetDongle() {
    return SendCommand(kResetCommand.data(), kResetCommand.size());
}
