// The wired controller's firmware update through its USB bootloader, and the
// open-then-update routine that the radio and Tivane updates share.
#include <iostream>

#include "app/Commands.h"
#include "device/QuorlControllerDevice.h"
#include "image/FirmwareUpdater.h"
#include "image/ImageFile.h"
#include "platform/Platform.h"

namespace {

constexpr int kOpenAttemptsWhileWaiting = 20;
constexpr std::uint32_t kOpenRetryPauseMs = 500;

}  // namespace

bool ImageReadyForBootloaderUpdate(const std::string& path) {
    if (!OpenCheckedImage(path)) {
        std::cout << "Error updating firmware." << std::endl;
        return false;
    }
    return true;
}

int UpdateViaBootloader(QuorlControllerDevice& device, const std::string& path, bool wait) {
    int attemptsLeft = wait ? kOpenAttemptsWhileWaiting : 1;
    while (!device.Open()) {
        if (--attemptsLeft == 0) {
            std::cout << "Error opening device." << std::endl;
            return 1;
        }
        platform::SleepMs(kOpenRetryPauseMs);
    }
    FirmwareUpdater updater(&device);
    if (updater.UpdateFirmware(path) != 0) {
        std::cout << "Error updating firmware." << std::endl;
        return 1;
    }
    device.Close();
    std::cout << "Successfully updated firmware." << std::endl;
    return 0;
}

int UpdateControllerFirmware(const std::string& path) {
    std::cout << "Updating controller firmware" << std::endl;
    // A mistyped path must not leave a running controller in its bootloader.
    if (!ImageReadyForBootloaderUpdate(path)) {
        return 1;
    }
    // A controller that already sits in its bootloader, or is absent, does not
    // stop the update: the open retries below wait for the bootloader.
    RebootControllerIntoBootloader(kControllerAppProductId);
    std::cout << "Attempting to update via bootloader..." << std::endl;
    QuorlControllerDevice wiredControllerBootloader(kControllerBootloaderProductId);
    return UpdateViaBootloader(wiredControllerBootloader, path, true) != 0 ? 1 : 0;
}
