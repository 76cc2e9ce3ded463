// The USB identities of the product family. Each product ID names one device
// in one firmware state: the same device shows under another ID in its
// application and in its bootloader.
#pragma once

#include <cstdint>

// Every HID device of the family.
constexpr std::uint16_t kQuorlVendorId = 0x28DE;

constexpr std::uint16_t kControllerAppProductId = 0x1102;
constexpr std::uint16_t kControllerBootloaderProductId = 0x1002;
constexpr std::uint16_t kDongleAppProductId = 0x1142;
constexpr std::uint16_t kDongleBootloaderProductId = 0x1042;
constexpr std::uint16_t kTivaneBootloaderProductId = 0x1071;

// The Tivane's application is a USB serial port of another vendor.
constexpr std::uint16_t kTivaneSerialVendorId = 0x2548;
constexpr std::uint16_t kTivaneSerialProductId = 0x1001;

// The device whose commands read its input reports (the dongle's bootloader
// reads its status byte so); every other device of the family is driven with
// feature reports alone.
constexpr bool CommandsReadInputReports(std::uint16_t productId) {
    return productId == kDongleBootloaderProductId;
}
