// Commands whose device support is still being built. Each fails plainly, so
// that no script mistakes a missing command for a success.
#include <iostream>

#include "app/Commands.h"

namespace {

int NotAvailable() {
    std::cerr << "This command is not available in this build." << std::endl;
    return 1;
}

}  // namespace

int UpdateRadioFirmware(const std::string&) { return NotAvailable(); }
int ReflashRadioOverSwd(const std::optional<std::string>&, std::uint32_t, const std::string&) {
    return NotAvailable();
}
int UpgradeDongle(const std::string&, int) { return NotAvailable(); }
int UpdateTivaneFirmware(const std::string&) { return NotAvailable(); }
int RunEmcTest(const std::vector<std::string>&, Edition) { return NotAvailable(); }
int GenerateManifest(const std::string&, const std::string&, const std::optional<std::string>&) {
    return NotAvailable();
}
int ExportRadioCrc(const std::string&, bool) { return NotAvailable(); }
