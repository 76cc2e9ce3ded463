// Short service commands that move a wired controller between its
// application and its bootloader, or give it its unit serial number.
#include <iostream>

#include "app/Commands.h"
#include "device/QuorlControllerDevice.h"

int RebootControllerIntoBootloader(std::uint16_t productId) {
    QuorlControllerDevice device(productId);
    if (!device.Open()) {
        return 1;
    }
    device.RebootIntoBootloader();
    std::cout << "Sent reboot into bootloader." << std::endl;
    return 0;
}

int ResetControllerFromBootloader(std::uint16_t productId) {
    QuorlControllerDevice device(productId);
    if (!device.Open()) {
        return 1;
    }
    device.ResetFromBootloader();
    std::cout << "Sent reset from bootloader command." << std::endl;
    return 0;
}

int SetControllerUnitSerial(std::uint16_t productId, const char* serial) {
    QuorlControllerDevice device(productId);
    if (!device.Open() || device.SetUnitSerial(serial) != 0) {
        std::cout << "Error opening device." << std::endl;
        return 1;
    }
    std::cout << "Sent the set unit serial command. Resetting..." << std::endl;
    device.ResetFromBootloader();
    return 0;
}
