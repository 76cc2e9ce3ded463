// The radio chip's firmware update through the controller. Which route to
// the radio is open is not known beforehand, so the controller is asked to
// reboot into its bootloader and three routes are tried in turn: the
// controller's application, its bootloader, and the dongle's wireless link.
#include <iostream>

#include "app/Commands.h"
#include "device/QuorlControllerRadioDevice.h"
#include "image/ImageFile.h"

int UpdateRadioFirmware(const std::string& path) {
    std::cout << "Updating radio firmware" << std::endl;
    // A mistyped path must not reboot the controller; with no route to try,
    // the command has no outcome line of its own.
    if (!OpenCheckedImage(path)) {
        return 1;
    }
    RebootControllerIntoBootloader(kControllerAppProductId);

    // Each device object lives until the command returns; those constructed
    // are destroyed (and closed) last-constructed first.
    std::cout << "Attempting to update via USB (legacy bootloader)..." << std::endl;
    QuorlControllerRadioDevice wiredController(kControllerAppProductId);
    if (UpdateViaBootloader(wiredController, path, false) == 0) {
        return 0;
    }

    // The open retries give the controller time to come back as its bootloader.
    std::cout << "Attempting to update via bootloader..." << std::endl;
    QuorlControllerRadioDevice wiredControllerBootloader(kControllerBootloaderProductId);
    if (UpdateViaBootloader(wiredControllerBootloader, path, true) == 0) {
        return 0;
    }

    std::cout << "Attempting to update via wireless..." << std::endl;
    QuorlControllerRadioDevice wirelessController(kDongleAppProductId);
    return UpdateViaBootloader(wirelessController, path, false) == 0 ? 0 : 1;
}
