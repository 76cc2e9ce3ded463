// The image checksum and the flash update engine. One sequence writes an
// image into any bootloader of the family, driven only through the device's
// virtual slots: checksum, start, acknowledgement, data, checksum,
// acknowledgement, reset.
#pragma once

#include <cstdint>
#include <string>

#include "device/QuorlControllerDevice.h"

class FirmwareUpdater {
public:
    // Borrows the device; never opens, closes or frees it.
    explicit FirmwareUpdater(QuorlControllerDevice* device) : device(device) {}

    // 0 with the 16-byte checksum of the file from offset on, or -1 when the
    // file cannot be opened.
    int ComputeImageChecksum(const std::string& path, std::int32_t offset, std::uint8_t* out);

    // Runs the whole update on an open device: 0 when the device
    // acknowledged the verification with status 0, else -1.
    int UpdateFirmware(const std::string& path);

private:
    QuorlControllerDevice* device;
};
