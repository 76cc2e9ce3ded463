#include "app/Usage.h"

#include <iostream>

std::string ProgramName(const std::string& programPath) {
    const std::size_t separator = programPath.find_last_of("/\\");
    return separator == std::string::npos ? programPath : programPath.substr(separator + 1);
}

int PrintUsage(const std::string& programPath, Edition edition) {
    const std::string name = ProgramName(programPath);
    const char* reflashOptions =
        edition == Edition::Compact
            ? " -s [softdevice_filename] <application_offset, e.g. \"98304\"> <application_filename>"
            : " -s [filename]";
    std::cout << "Fully update radio firmware:" << std::endl;
    std::cout << "usage: " << name << reflashOptions << std::endl;
    std::cout << std::endl;
    std::cout << "Reboot controller into bootloader:" << std::endl;
    std::cout << "usage: " << name << " -b" << std::endl;
    std::cout << std::endl;
    std::cout << "Reboot controller in app from bootloader:" << std::endl;
    std::cout << "usage: " << name << " -R" << std::endl;
    std::cout << std::endl;
    std::cout << "Generate BRM file:" << std::endl;
    std::cout << "usage: " << name << " -v <firmware> <firmware_timestamp> [bootloader]"
              << std::endl;
    return 1;
}
