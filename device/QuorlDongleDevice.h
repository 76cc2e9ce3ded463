// The host side of the wireless dongle's bootloader link. Commands travel as
// feature reports; the dongle confirms each one it carried out by changing
// the status byte that it sends on its interrupt-in channel. Its memory is
// written in 512-byte pages and read back in 64-byte chunks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "device/HidDevice.h"

constexpr std::uint32_t kDonglePageSize = 512;
constexpr std::uint32_t kDongleChunkSize = 64;
// Write page carries the page number in one byte: pages 0-255 only.
constexpr std::uint32_t kDonglePageCount = 256;
constexpr std::uint64_t kDongleMaxImageSize = std::uint64_t{kDonglePageSize} * kDonglePageCount;

class QuorlDongleDevice : public HidDevice {
public:
    explicit QuorlDongleDevice(std::uint16_t productId);
    ~QuorlDongleDevice() override = default;

    // Opens, learns the current status byte, then sends the eight read
    // commands of chunk 0 that the bootloader expects (results ignored).
    bool Open() override;

    // A status byte 0-255, or lastStatus when no one-byte report came.
    int ReadStatus();
    // 0 once the status byte changed (stored in lastStatus), -1 after 100 polls.
    int WaitForStatusChange();
    // true when two status bytes arrived; the second becomes lastStatus.
    bool SyncStatus();

    // On failure both outputs are 0.
    bool GetBootloaderVersion(std::uint8_t& major, std::uint8_t& minor);
    bool SendSelectCommand(std::uint32_t chunk);
    bool SendReadCommand(std::uint32_t chunk);
    // On failure the destination holds length bytes of 0xFF.
    bool ReadChunk(std::uint32_t chunk, std::uint8_t* destination, std::uint32_t length);
    // Always sends the whole page: the data, then 0xFF up to 512 bytes.
    bool WritePage(std::uint32_t page, const std::uint8_t* data, std::uint32_t length);
    // Compares only the first length bytes of the page.
    bool VerifyPage(std::uint32_t page, const std::uint8_t* data, std::uint32_t length);
    bool WritePageVerified(std::uint32_t page, const std::uint8_t* data, std::uint32_t length);
    bool HasBootGuard();
    bool WriteBootGuard();
    // Writes the image, read from the open file, with page 0 last: the boot
    // guard holds page 0 until every other page is in place. The caller has
    // checked that the file reads whole and fits the dongle (size bytes);
    // a file that has grown since is still never written past page 255.
    bool UpgradeFromFile(std::FILE* firmware, std::uint64_t size);
    // The last command of a link; not acknowledged.
    bool ResetDongle();

protected:
    std::int32_t lastStatus = -1;

private:
    bool SendCommand(const std::uint8_t* command, std::uint32_t length);
    bool SendAcknowledged(const std::uint8_t* command, std::uint32_t length);
};
