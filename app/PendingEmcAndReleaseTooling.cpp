// Placeholder until this command's device support lands: it fails plainly,
// so that no script mistakes a missing command for a success.
#include <iostream>

#include "app/Commands.h"

int RunEmcTest(const std::vector<std::string>&, Edition) {
    std::cerr << "This command is not available in this build." << std::endl;
    return 1;
}

int GenerateManifest(const std::string&, const std::string&, const std::optional<std::string>&) {
    std::cerr << "This command is not available in this build." << std::endl;
    return 1;
}

int ExportRadioCrc(const std::string&, bool) {
    std::cerr << "This command is not available in this build." << std::endl;
    return 1;
}
