#include "testsupport/RunTool.h"

#include <sstream>

#include "app/Dispatcher.h"
#include "testsupport/Console.h"

Transcript RunResult::OutLines() const { return Lines(out); }
Transcript RunResult::ErrLines() const { return Lines(err); }

int RunToolOnConsole(const std::vector<std::string>& args, Edition edition) {
    // As a program's main() receives them: the program name first, a null last.
    std::vector<const char*> argv = {"QuorlFirmwareUpdateApp"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    return RunApp(static_cast<int>(argv.size() - 1), argv.data(), edition);
}

RunResult RunTool(const std::vector<std::string>& args, Edition edition) {
    std::ostringstream out;
    std::ostringstream err;
    RunResult result;
    {
        const RedirectedConsole console(out.rdbuf(), err.rdbuf());
        result.status = RunToolOnConsole(args, edition);
    }
    result.out = out.str();
    result.err = err.str();
    return result;
}
