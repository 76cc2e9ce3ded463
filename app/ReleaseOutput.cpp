#include "app/ReleaseOutput.h"

#include <iostream>

bool StandardOutputWritten() {
    std::cout.flush();
    if (std::cout.good()) {
        return true;
    }
    std::cerr << "Error: Unable to write standard output" << std::endl;
    return false;
}
