#include "sim/DongleBootloaderModel.h"

#include <algorithm>
#include <cstdlib>

#include "sim/ControllerModel.h"
#include "sim/Scenario.h"

namespace sim {

namespace {

constexpr std::uint8_t kCmdGetVersion = 0x01;
constexpr std::uint8_t kCmdWritePage = 0x02;
constexpr std::uint8_t kCmdRead = 0x03;
constexpr std::uint8_t kCmdSelect = 0x06;
constexpr std::uint8_t kCmdReset = 0x07;
constexpr std::size_t kDataReportsPerPage = 8;

}  // namespace

DongleBootloaderModel::DongleBootloaderModel()
    : SimDevice(kVendor, kDongleBootloader, "dongle-bootloader"),
      memory(kPages * kPageSize, 0xFF) {
    // The bootloader gives no serial number string.
    descriptor = {L"", 0x0103, L"Quorl", L"Quorl Dongle Bootloader"};
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
        if (pageData.size() == kDataReportsPerPage * kChunkSize) {
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
        case kCmdGetVersion:
            versionPending = true;
            chunkToFetch.reset();
            break;
        case kCmdWritePage:
            pageBeingWritten = argument;
            pageData.clear();
            break;
        case kCmdRead:
            chunkToFetch = static_cast<std::uint16_t>(selectedHigh << 8 | argument);
            versionPending = false;
            break;
        case kCmdSelect:
            selectedHigh = argument;
            break;
        case kCmdReset:
            if (data.size() < 4 || data[1] != 'R' || data[2] != 'S' || data[3] != 'T') {
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

namespace {

bool ApplyDongleBootloaderSetting(SimDevice& device, const std::string& key,
                                  const std::string& value) {
    auto& dongle = static_cast<DongleBootloaderModel&>(device);
    const long number = std::atol(value.c_str());
    if (key == "version") {
        // MAJOR.MINOR in decimal.
        const std::size_t dot = value.find('.');
        dongle.versionReply = {static_cast<std::uint8_t>(number),
                               static_cast<std::uint8_t>(
                                   dot == std::string::npos ? 0 : std::atol(value.c_str() + dot + 1))};
    } else if (key == "version-length") {
        dongle.versionReply.resize(static_cast<std::size_t>(std::max(0L, number)), 0x00);
    } else if (key == "frozen-status") {
        dongle.statusFrozen = number != 0;
    } else if (key == "silent") {
        dongle.silent = number != 0;
    } else if (key == "long-status") {
        dongle.longStatusReports = number != 0;
    } else if (key == "status-lag") {
        dongle.statusLagReports = static_cast<int>(number);
    } else if (key == "bad-readback") {
        dongle.badReadbackPage = static_cast<int>(number);
    } else if (key == "bad-readback-times") {
        dongle.badReadbackTimes = static_cast<int>(number);
    } else if (key == "corrupt-stored") {
        dongle.corruptStoredPage = number != 0;
    } else if (key == "guard") {
        if (number != 0) {
            dongle.Store(0, {0x02, 0x78, 0x00});
        }
    } else {
        return false;
    }
    return true;
}

const ModelRegistration kDongleBootloader(
    "dongle-bootloader",
    "wireless dongle running its bootloader (0x1042); settings version=MAJOR.MINOR "
    "version-length=N frozen-status=1 silent=1 long-status=1 status-lag=N bad-readback=PAGE "
    "bad-readback-times=N corrupt-stored=1 guard=1",
    [](World& world) -> SimDevice& { return world.Add<DongleBootloaderModel>(); },
    ApplyDongleBootloaderSetting);

}  // namespace

}  // namespace sim
