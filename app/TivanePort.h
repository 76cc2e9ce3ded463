// Finding the Tivane's serial port in the USB device listing. The rules work
// on the listing's texts alone, so that they hold on any platform's listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

// The Tivane's application: a USB serial port with its own USB IDs.
constexpr std::uint16_t kTivaneSerialVendorId = 0x2548;
constexpr std::uint16_t kTivaneSerialProductId = 0x1001;

// "VID_%4x&PID_%4x" of the IDs, the text searched for in hardware IDs.
std::string UsbIdSearchPattern(std::uint16_t vendorId, std::uint16_t productId);

// Index of the first device whose first hardware ID holds the pattern
// (case-sensitive); nothing when no device does.
std::optional<std::size_t> FirstMatchingDevice(const std::vector<platform::UsbDevice>& devices,
                                               const std::string& pattern);

// The whole COM port name in a display name such as "USB Serial Device (COM12)":
// the first upper-case "COM" followed by a digit, with every digit after it.
std::optional<std::string> ComPortInDisplayName(const std::string& displayName);

// The device's serial port: its device node when the listing gives one, else
// the COM port in its display name; nothing when it has neither.
std::optional<std::string> SerialPortOf(const platform::UsbDevice& device);

// Writes the port of the first Tivane in the listing to comport_name and
// returns 1; returns 0 after "No match for VID/PID of Tivane" when there is
// none, or when it has no port to send to.
int FindTivanePort(std::string& comport_name);
