#include <string>
#include <vector>

#include "app/BuiltEdition.h"
#include "app/Dispatcher.h"
#include "platform/console/ProgramArguments.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
    std::vector<const char*> words;
    for (const std::string& argument : arguments) {
        words.push_back(argument.c_str());
    }
    return RunApp(static_cast<int>(words.size()), words.data(), kBuiltEdition);
}
