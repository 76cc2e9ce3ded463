// The lines the tool prints, as tests and fuzz targets expect them: the fixed
// ones by name, once, and those that carry a value built from it. Written
// from the tool's documented messages, never taken from its sources.
#pragma once

#include <string>

#include "app/Edition.h"
#include "sim/SimWorld.h"
#include "testsupport/Bytes.h"
#include "testsupport/Transcript.h"

// Updates through a bootloader (controller, radio, Tivane) and their engine.
inline constexpr char kUpdatingController[] = "Updating controller firmware";
inline constexpr char kUpdatingRadio[] = "Updating radio firmware";
inline constexpr char kUpdatingTivane[] = "Updating Tivane firmware";
inline constexpr char kRebootSent[] = "Sent reboot into bootloader.";
inline constexpr char kViaBootloader[] = "Attempting to update via bootloader...";
inline constexpr char kViaUsbLegacy[] = "Attempting to update via USB (legacy bootloader)...";
inline constexpr char kViaWireless[] = "Attempting to update via wireless...";
inline constexpr char kAttemptingUpdate[] = "Attempting to update...";
inline constexpr char kStartingUpdate[] = "Starting firmware update...";
inline constexpr char kTransferring[] = "Transfering data...";
inline constexpr char kVerifying[] = "Verifying...";
inline constexpr char kUpdated[] = "Successfully updated firmware.";
inline constexpr char kUpdateError[] = "Error updating firmware.";
inline constexpr char kOpenError[] = "Error opening device.";

// The full radio reflash over SWD.
inline constexpr char kViaUsb[] = "Attempting to update via USB...";
inline constexpr char kStartingSwd[] = "Starting SWD";
inline constexpr char kNoSwdStart[] = "Error starting SWD";
inline constexpr char kReflashed[] = "Radio Update Complete.  Rebooting";
inline constexpr char kAppFailed[] = "ERROR: Application programming failed";
inline constexpr char kSdFailed[] = "ERROR: SoftDevice programming failed";

// The dongle upgrade.
inline constexpr char kDongleUpgraded[] = "Dongle upgraded.";
inline constexpr char kDongleFailed[] = "Dongle upgrade failed.";
inline constexpr char kDongleOpenError[] = "Error opening device for bootloader upgrade.";
inline constexpr char kNoVersion[] = "Unable to determine bootloader version.";

// The maintenance commands and the EMC test.
inline constexpr char kSendingToController[] = "Attempting to send to wired controller...";
inline constexpr char kRebootFailed[] = "Unable to reboot into bootloader.";
inline constexpr char kResetSent[] = "Sent reset from bootloader command.";
inline constexpr char kSerialSent[] = "Sent the set unit serial command. Resetting...";
inline constexpr char kEmcToController[] = "Sent EMC command to controller.";
inline constexpr char kEmcToDongle[] = "Sent EMC command to dongle.";
inline constexpr char kNoEmcDevice[] = "Did not find a controller or dongle.";

// "Unable to open: " and the path, on standard error.
std::string UnableToOpen(const std::string& path);

// The hint, on standard error, about a device node (Linux) or path (Windows)
// that is present but refuses the user, in the words of the system the
// simulator stands for: the udev rules on Linux, another program that holds
// the device on Windows.
std::string AccessHintLine(const std::string& node);

// The hint after a command that could not open a device that refuses the
// user: its node on Linux, its USB IDs on Windows.
std::string DeviceAccessHintLine(const sim::SimDevice& device);

// "Image checksum: " and the checksum's 32 digits.
std::string ChecksumLine(const Checksum128& checksum);

// The engine's lines of an update that got through to its verification:
// the checksum line, starting, transferring, verifying.
Transcript UpdateEngineLines(const Checksum128& checksum);

// "#define RADIO_CRC 0x.., 0x.., ..." of the checksum.
std::string RadioCrcLine(const Checksum128& checksum);

// The usage text of an edition under the given program name.
Transcript UsageLines(const std::string& programName, Edition edition);
