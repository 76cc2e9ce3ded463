#include "sim/DongleBootloaderModel.h"

#include <algorithm>

#include "sim/WireNames.h"

namespace sim {

DongleBootloaderModel::DongleBootloaderModel()
    : SimDevice(kVendor, kDongleBootloader, "dongle-bootloader"),
      memory(kPages * kPageSize, 0xFF) {
    // The bootloader gives no serial number string; its status byte is its
    // whole input report.
    descriptor = {L"", 0x0103, L"Quorl", L"Quorl Dongle Bootloader"};
    descriptor.inputReportLength = 1;
}

void DongleBootloaderModel::Store(std::size_t page, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), kPageSize),
              memory.begin() + page * kPageSize);
}

Bytes DongleBootloaderModel::Page(std::size_t page) const {
    const auto start = memory.begin() + page * kPageSize;
    return Bytes(start, start + kPageSize);
}

void DongleBootloaderModel::CarriedOut() {
    if (!statusFrozen) {
        if (lagLeft == 0) {
            lagStatus = status;
        }
        ++status;
        lagLeft = statusLagReports;
    }
    statusDue = true;
}

bool DongleBootloaderModel::TakeReadbackFault() {
    if (badReadbackTimes == 0) {
        return false;
    }
    if (badReadbackTimes > 0) {
        --badReadbackTimes;
    }
    return true;
}

bool DongleBootloaderModel::OnSetFeature(const Bytes& data) {
    if (data.empty()) {
        return false;
    }
    if (pageBeingWritten) {
        // One of the 8 data reports that follow Write page: 64 image bytes.
        pageData.insert(pageData.end(), data.begin(),
                        data.begin() + std::min(data.size(), kChunkSize));
        if (pageData.size() == kDongleDataReportsPerPage * kChunkSize) {
            const std::size_t page = *pageBeingWritten;
            if (corruptStoredPage && static_cast<int>(page) == badReadbackPage &&
                TakeReadbackFault()) {
                pageData[0] ^= 0xFF;
            }
            Store(page, pageData);
            pagesWritten.push_back(static_cast<int>(page));
            pageBeingWritten.reset();
        }
        CarriedOut();
        return true;
    }
    const std::uint8_t argument = data.size() > 1 ? data[1] : 0;
    switch (data[0]) {
        case kDongleGetVersion:
            versionPending = true;
            chunkToFetch.reset();
            break;
        case kDongleWritePage:
            pageBeingWritten = argument;
            pageData.clear();
            break;
        case kDongleRead:
            chunkToFetch = static_cast<std::uint16_t>(selectedHigh << 8 | argument);
            versionPending = false;
            break;
        case kDongleSelect:
            selectedHigh = argument;
            break;
        case kDongleReset:
            if (data.size() < 1 + kDongleResetLetters.size() ||
                !std::equal(kDongleResetLetters.begin(), kDongleResetLetters.end(),
                            data.begin() + 1)) {
                return false;
            }
            // The bootloader starts the application: this device is gone.
            ++resets;
            Unplug();
            return true;
        default:
            return false;
    }
    CarriedOut();
    return true;
}

Bytes DongleBootloaderModel::FetchChunk() const {
    const std::size_t start = std::size_t{*chunkToFetch} * kChunkSize;
    if (start >= memory.size()) {
        return Bytes(kChunkSize, 0xFF);
    }
    return Bytes(memory.begin() + start, memory.begin() + start + kChunkSize);
}

std::optional<Bytes> DongleBootloaderModel::OnGetFeature() {
    if (versionPending) {
        return versionReply;
    }
    if (!chunkToFetch) {
        return std::nullopt;
    }
    Bytes chunk = FetchChunk();
    if (!corruptStoredPage && badReadbackPage >= 0 &&
        *chunkToFetch == static_cast<std::size_t>(badReadbackPage) * (kPageSize / kChunkSize) &&
        TakeReadbackFault()) {
        chunk[0] ^= 0xFF;
    }
    return chunk;
}

std::optional<Bytes> DongleBootloaderModel::TakeInputReport() {
    const std::uint64_t now = World::Get().NowMs();
    if (silent || (!statusDue && now < nextReportMs)) {
        return std::nullopt;
    }
    statusDue = false;
    nextReportMs = now + statusPeriodMs;
    Bytes report = {status};
    if (lagLeft > 0) {
        --lagLeft;
        report[0] = lagStatus;
    }
    if (longStatusReports) {
        report.push_back(0x00);
    }
    return report;
}

}  // namespace sim
