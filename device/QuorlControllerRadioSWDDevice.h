// The radio chip's flash programmed over SWD, with the wired controller (in
// its application) acting as the debug probe and carrying the probe's
// operations in its feature reports. Radio addresses are 32-bit, sent least
// significant byte first; the flash is erased in 1024-byte pages and one
// write carries at most 56 bytes.
#pragma once

#include <cstdint>

#include "device/QuorlControllerDevice.h"

constexpr std::uint32_t kRadioFlashPageSize = 1024;
constexpr int kSwdMaxWriteLength = 56;
// A read reply is the 64-byte report: command, length, address, then data.
constexpr int kSwdMaxReadLength = 58;

class QuorlControllerRadioSWDDevice : public QuorlControllerDevice {
public:
    explicit QuorlControllerRadioSWDDevice(std::uint16_t productId);

    // Puts the controller into SWD mode; acknowledged.
    int StartFirmwareUpdate() override;
    // Ends SWD mode. The radio takes no image checksum: the argument is unused.
    int SendImageChecksum(const std::uint8_t* checksum) override;
    // Restarts the controller (0x95, no payload). Sent even when not open, so
    // that the failing send reports the closed device.
    int ResetFromBootloader() override;
    int GetTransferChunkSize() override;
    int GetImageStartOffset() override;
    int GetChecksumPadSize() override;
    int GetImageHeaderSize() override;

    // What the slots this device reuses do on it, by name.
    int StartSwd() { return StartFirmwareUpdate(); }
    int EndSwd() { return SendImageChecksum(nullptr); }
    int RestartController() { return ResetFromBootloader(); }

    // Writes n (at most 56) bytes at a radio address; acknowledged.
    virtual int SwdWriteMemory(std::uint32_t address, const std::uint8_t* data, int n);
    // Reads n (at most 58) bytes at a radio address into destination: only a
    // reply that names this address counts, polled for up to 100 times.
    virtual int SwdReadMemory(std::uint8_t* destination, std::uint32_t address, std::uint8_t n);
    // Erases the page at a radio address; acknowledged.
    virtual int SwdEraseSector(std::uint32_t address);
    // Erases the whole radio flash; acknowledged.
    virtual int SwdEraseChip();

private:
    // Sends a request that the probe acknowledges, waits the given time for
    // the operation to run, then takes the acknowledgement: 0 only when its
    // status is success.
    int SendAcknowledged(std::uint8_t code, const std::uint8_t* payload, std::uint8_t n,
                         std::uint32_t pauseMs);
};
