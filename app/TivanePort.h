// Finding the Tivane's serial port in the USB device listing. The rules work
// on the listing's texts alone, so that they hold on any platform's listing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/UsbIds.h"
#include "platform/Platform.h"

// "VID_%4x&PID_%4x" of the IDs, the text searched for in hardware IDs.
std::string UsbIdSearchPattern(std::uint16_t vendorId, std::uint16_t productId);

// The serial port of the first device, in listing order, whose first
// hardware ID holds the pattern (case-sensitive) and that has a port; nothing
// when no device does.
std::optional<std::string> FirstPortMatching(const std::vector<platform::UsbDevice>& devices,
                                             const std::string& pattern);

// The whole COM port name in a display name such as "USB Serial Device (COM12)":
// the first upper-case "COM" followed by a digit, with every digit after it.
std::optional<std::string> ComPortInDisplayName(const std::string& displayName);

// The device's serial port: its device node when the listing gives one, else
// the COM port in its display name; nothing when it has neither.
std::optional<std::string> SerialPortOf(const platform::UsbDevice& device);

// Writes the port of the first Tivane in the listing that has one to
// comport_name and returns 1; returns 0 after "No match for VID/PID of
// Tivane" when there is none.
int FindTivanePort(std::string& comport_name);
