// The controller's radio chip as the flash update engine sees it: the
// update commands carry the radio's own codes (0x97 begin, 0x98 data, 0x99
// checksum), the data is paced by fixed pauses instead of acknowledgements,
// and the only acknowledgement is the one that follows the checksum.
#pragma once

#include <cstdint>

#include "device/QuorlControllerDevice.h"

class QuorlControllerRadioDevice : public QuorlControllerDevice {
public:
    explicit QuorlControllerRadioDevice(std::uint16_t productId);

    // Radio update begin; zeroes bytesSent. No settle pause.
    int StartFirmwareUpdate() override;
    // Polls the controller only once the checksum was accepted; before
    // that it reads nothing and reports status 0.
    int WaitForAck(std::uint16_t& status) override;
    // Radio data (1 to 48 bytes), followed by a 2 ms or 26 ms pause.
    int SendFirmwareData(const std::uint8_t* data, int n) override;
    // Radio image checksum; sets verifySent when accepted. No settle pause.
    int SendImageChecksum(const std::uint8_t* checksum) override;
    // The radio is not told to restart: sends nothing, returns 0.
    int ResetFromBootloader() override;
    int GetTransferChunkSize() override;
    int GetImageStartOffset() override;
    int GetChecksumPadSize() override;
    int GetImageHeaderSize() override;

    bool VerifySent() const { return verifySent; }
    std::uint32_t BytesSent() const { return bytesSent; }

private:
    bool verifySent = false;
    // Set when a checksum command was not accepted: the acknowledgement that
    // would follow it can never come, so the wait must not report success.
    bool verifyRefused = false;
    std::uint32_t bytesSent = 0;
};
