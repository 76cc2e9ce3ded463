#include "app/Dispatcher.h"

#include <iostream>

#include "app/AccessHint.h"
#include "app/Commands.h"
#include "app/Usage.h"
#include "device/DebugOutput.h"
#include "device/QuorlControllerDevice.h"

namespace {

void AnnounceWiredController() {
    std::cout << "Attempting to send to wired controller..." << std::endl;
}

}  // namespace

int RunInvocation(const Invocation& inv, Edition edition) {
    switch (inv.kind) {
        case CommandKind::Usage:
            return PrintUsage(inv.programPath, edition);
        case CommandKind::Help:
            PrintUsage(inv.programPath, edition);
            return 0;
        case CommandKind::EmcTest:
            return RunEmcTest(inv.words, edition);
        case CommandKind::RebootIntoBootloader:
            AnnounceWiredController();
            if (RebootControllerIntoBootloader(kControllerAppProductId) != 0) {
                std::cout << "Unable to reboot into bootloader." << std::endl;
                return 1;
            }
            return 0;
        case CommandKind::SetUnitSerial:
            AnnounceWiredController();
            return SetControllerUnitSerial(kControllerBootloaderProductId, inv.serial.data());
        case CommandKind::ResetFromBootloader:
            AnnounceWiredController();
            return ResetControllerFromBootloader(kControllerBootloaderProductId) != 0 ? 1 : 0;
        case CommandKind::DongleUpgrade:
            return UpgradeDongle(inv.path, 0);
        case CommandKind::RadioUpdate:
            return UpdateRadioFirmware(inv.path);
        case CommandKind::TivaneUpdate:
            return UpdateTivaneFirmware(inv.path);
        case CommandKind::ControllerUpdate:
            return UpdateControllerFirmware(inv.path);
        case CommandKind::RadioCrc:
            return ExportRadioCrc(inv.path, inv.headerLine);
        case CommandKind::Manifest:
            return GenerateManifest(inv.path, inv.timestamp, inv.bootloader);
        case CommandKind::SwdReflash:
            return ReflashRadioOverSwd(inv.softDevice, inv.address, inv.path, inv.addressWord);
    }
    return PrintUsage(inv.programPath, edition);
}

int RunApp(int argc, const char* const* argv, Edition edition) {
    const Invocation invocation = ParseCommandLine(argc, argv, edition);
    g_debugOutput = invocation.debug;
    ForgetDevicesThatDidNotOpen();
    const int status = RunInvocation(invocation, edition);
    if (status != 0) {
        HintAtInaccessibleDevice();
    }
    return status;
}
