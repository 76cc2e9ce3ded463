#include "platform/console/ProgramArguments.h"

namespace platform {

// The words arrive as the shell passed them: file names are bytes.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
