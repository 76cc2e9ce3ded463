// The wireless dongle running its bootloader (0x1042). It takes short
// commands in feature reports and confirms each one it carried out with a
// new status byte on its interrupt-in channel, which it otherwise repeats
// every 10 ms. Its memory is pages of 512 bytes, erased to 0xFF, written by
// Write page and 8 data reports and read back in 64-byte chunks after Select
// and Read.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/SimWorld.h"

namespace sim {

class DongleBootloaderModel : public SimDevice {
public:
    static constexpr std::size_t kPageSize = 512;
    static constexpr std::size_t kChunkSize = 64;
    static constexpr std::size_t kPages = 256;

    DongleBootloaderModel();

    bool OnSetFeature(const Bytes& data) override;
    std::optional<Bytes> OnGetFeature() override;
    std::optional<Bytes> TakeInputReport() override;
    // Its descriptor declares a 1-byte input report; the faulty firmware of
    // longStatusReports declares what it sends.
    std::size_t InputReportLength() const override {
        return longStatusReports ? 2 : descriptor.inputReportLength;
    }

    // What the dongle holds.
    Bytes memory;                        // kPages pages, erased to 0xFF
    Bytes versionReply = {0x01, 0x03};   // major, minor; another length is a malformed reply
    int resets = 0;
    std::vector<int> pagesWritten;       // page numbers, in order

    // Faults.
    bool statusFrozen = false;     // reports keep coming, but the value never changes
    bool silent = false;           // no status reports at all
    bool longStatusReports = false;  // status reports carry a second byte
    // A dongle slow to carry commands out: after each one, this many more
    // reports still show the status byte from before it (before the first
    // of them, when a command comes while the last one still lags).
    int statusLagReports = 0;
    // Read-back of a page differs from what was written: the first chunk of
    // badReadbackPage is corrupted when fetched (or, with corruptStoredPage,
    // the page is stored corrupted), badReadbackTimes times (-1: always).
    int badReadbackPage = -1;
    int badReadbackTimes = -1;
    bool corruptStoredPage = false;

    std::uint8_t status = 0x40;
    std::uint32_t statusPeriodMs = 10;

    // The given bytes at the start of a page, the rest left as it is.
    void Store(std::size_t page, const Bytes& bytes);
    Bytes Page(std::size_t page) const;

private:
    void CarriedOut();
    bool TakeReadbackFault();
    Bytes FetchChunk() const;

    std::uint8_t selectedHigh = 0;
    std::optional<std::uint16_t> chunkToFetch;
    bool versionPending = false;
    std::optional<std::size_t> pageBeingWritten;
    Bytes pageData;
    bool statusDue = true;
    int lagLeft = 0;
    std::uint8_t lagStatus = 0;  // shown while lagging
    std::uint64_t nextReportMs = 0;
};

}  // namespace sim
