// The command functions that the dispatcher runs. Each owns the devices it
// needs, prints its own lines and returns the process exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Edition.h"

class QuorlControllerDevice;

// Device maintenance.
int RebootControllerIntoBootloader(std::uint16_t productId);
int ResetControllerFromBootloader(std::uint16_t productId);
int SetControllerUnitSerial(std::uint16_t productId, const char* serial);

// Bootloader updates.
// Checks, before any device is touched, that the image streams whole: false
// after "Unable to open: " and "Error updating firmware.".
bool ImageReadyForBootloaderUpdate(const std::string& path);
int UpdateViaBootloader(QuorlControllerDevice& device, const std::string& path, bool wait);
int UpdateControllerFirmware(const std::string& path);
int UpdateRadioFirmware(const std::string& path);
int UpdateTivaneFirmware(const std::string& path);
int UpgradeDongle(const std::string& path, int openWaitBudgetMs);

// Full radio reflash over SWD. The address word, when the command line
// gave one, is the address as typed: one that is not wholly a number is
// refused before the controller is opened.
int ReflashRadioOverSwd(const std::optional<std::string>& softDevicePath,
                        std::uint32_t applicationAddress, const std::string& applicationPath,
                        const std::optional<std::string>& addressWord = std::nullopt);

// EMC test mode.
int RunEmcTest(const std::vector<std::string>& words, Edition edition);

// Release tooling.
int GenerateManifest(const std::string& firmwarePath, const std::string& timestamp,
                     const std::optional<std::string>& bootloaderPath);
int ExportRadioCrc(const std::string& path, bool headerLine);
