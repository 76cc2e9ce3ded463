// The wired controller's command protocol: one feature report per command
// (code, payload length, payload), answered where needed by an
// acknowledgement report (0x94) that the host polls for. The same slots drive
// the radio and SWD subclasses and describe the image layout a device takes.
#pragma once

#include <cstdint>

#include "device/HidDevice.h"

constexpr std::uint32_t kUnitSerialLength = 16;
constexpr std::uint32_t kEmcRecordLength = 16;
// The image checksum command carries the 16 bytes of the image checksum.
constexpr std::uint32_t kChecksumCommandLength = 16;

class QuorlControllerDevice : public HidDevice {
public:
    explicit QuorlControllerDevice(std::uint16_t productId);

    virtual int RebootIntoIsp();
    virtual int RebootIntoBootloader();
    virtual int StartFirmwareUpdate();
    // 0 with the acknowledgement's status, or -1 with status 0xFFFF.
    virtual int WaitForAck(std::uint16_t& status);
    virtual int SendFirmwareData(const std::uint8_t* data, int n);
    virtual int SendImageChecksum(const std::uint8_t* checksum);
    virtual int ResetFromBootloader();
    virtual int SetBoardRevision(std::uint32_t revision);
    // At most 16 characters, NUL-terminated when shorter.
    virtual int SetUnitSerial(const char* serial);
    virtual int GetTransferChunkSize();
    virtual int GetImageStartOffset();
    virtual int GetChecksumPadSize();
    virtual int GetImageHeaderSize();
    virtual int SendEmcCommand(const std::uint8_t* record);

protected:
    // Builds the command report (code, length n, n payload bytes) and sends
    // its first n + 2 bytes; the HID layer zero-fills the rest.
    int SendCommand(std::uint8_t code, const std::uint8_t* payload, std::uint8_t n);
};
