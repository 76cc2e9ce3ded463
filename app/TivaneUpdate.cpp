// The Tivane's firmware update: its application is restarted into its HID
// bootloader by one byte on its serial port, and the bootloader, which
// speaks the controller's bootloader protocol, takes the image.
#include <iostream>

#include "app/Commands.h"
#include "app/TivanePort.h"
#include "device/QuorlControllerDevice.h"
#include "device/UnitLimit.h"
#include "platform/Platform.h"

namespace {

constexpr std::uint8_t kRestartIntoBootloader = 0xFE;
constexpr std::uint32_t kRestartPauseMs = 1000;

}  // namespace

int FindTivanePort(std::string& comport_name) {
    // In a process limited to one unit, only the devices at its port.
    const UnitLimit* limit = ActiveUnitLimit();
    std::vector<platform::UsbDevice> listing =
        platform::ListUsbDevices(limit != nullptr ? limit->port : std::string());
    if (limit != nullptr) {
        std::erase_if(listing, [&](const platform::UsbDevice& device) {
            return device.port.empty() || device.port != limit->port;
        });
    }
    const std::optional<std::string> port = FirstPortMatching(
        listing, UsbIdSearchPattern(kTivaneSerialVendorId, kTivaneSerialProductId));
    if (!port) {
        std::cout << "No match for VID/PID of Tivane" << std::endl;
        return 0;
    }
    comport_name = *port;
    return 1;
}

int UpdateTivaneFirmware(const std::string& path) {
    std::cout << "Updating Tivane firmware" << std::endl;
    // The restart byte leaves the Tivane in its bootloader: not for a bad path.
    if (!ImageReadyForBootloaderUpdate(path)) {
        return 1;
    }
    std::string comport_name;
    if (FindTivanePort(comport_name) == 1) {
        // A port that cannot be opened or written is named with why (a
        // terminal holds it, say); the command goes on, since the Tivane may
        // be in its bootloader already: the single open of the bootloader
        // below tells whether the restart worked.
        // Under a unit limit, the port opened must still be the unit's.
        const UnitLimit* limit = ActiveUnitLimit();
        std::string failure;
        if (!platform::WriteSerialByte(comport_name, kRestartIntoBootloader, failure,
                                       limit != nullptr ? limit->port : std::string())) {
            std::cerr << failure << std::endl;
        }
        platform::SleepMs(kRestartPauseMs);
    } else {
        std::cout << "Device not found, is it already in bootloader?" << std::endl;
    }
    std::cout << "Attempting to update..." << std::endl;
    QuorlControllerDevice wiredController(kTivaneBootloaderProductId);
    return UpdateViaBootloader(wiredController, path, false) != 0 ? 1 : 0;
}
