// The words of the command line, the program's path first, in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace platform {

// On Windows the words are taken from the wide command line, so that a path
// in any script reaches the tool whole, whatever the system's code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace platform
