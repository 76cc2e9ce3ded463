#include "platform/console/ProgramArguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/text/WideText.h"

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    // The runtime's own split of the narrow words serves when the wide split
    // disagrees on their number (quoting rules differ in rare corners).
    if (words != nullptr && count == argc) {
        for (int index = 0; index < count; ++index) {
            arguments.push_back(Utf8FromWide(words[index]));
        }
    } else {
        arguments.assign(argv, argv + argc);
    }
    LocalFree(words);
    return arguments;
}

}  // namespace platform
