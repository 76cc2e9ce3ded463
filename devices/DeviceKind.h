// What a connected device of the family is, and which firmware runs on it,
// told from its USB IDs alone: each device shows under one product ID in its
// application and another in its bootloader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct DeviceKind {
    std::string kind;   // "controller", "dongle", "Tivane" or "unknown"
    std::string state;  // "application", "bootloader", "serial application", "HID bootloader" or "unknown"
};

// Nothing for a device that is not of the family; "unknown" for a product ID
// of the family's vendor that no device of it uses.
std::optional<DeviceKind> ClassifyDevice(std::uint16_t vendorId, std::uint16_t productId);
