// Placeholder until this command's device support lands: it fails plainly,
// so that no script mistakes a missing command for a success.
#include <iostream>

#include "app/Commands.h"

int UpdateTivaneFirmware(const std::string&) {
    std::cerr << "This command is not available in this build." << std::endl;
    return 1;
}
