#include "testsupport/RunTool.h"

#include <sstream>

#include "app/Dispatcher.h"
#include "testsupport/Console.h"

namespace {

// As a program's main() receives them: the words, then a null.
int Run(const std::vector<std::string>& words, const ProgramEntry& program) {
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);
    return program(static_cast<int>(argv.size() - 1), argv.data());
}

std::vector<std::string> ToolWords(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"QuorlFirmwareUpdateApp"};
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

ProgramEntry Tool(Edition edition) {
    return [edition](int argc, const char* const* argv) { return RunApp(argc, argv, edition); };
}

}  // namespace

Transcript RunResult::OutLines() const { return Lines(out); }
Transcript RunResult::ErrLines() const { return Lines(err); }

RunResult RunCaptured(const std::vector<std::string>& words, const ProgramEntry& program) {
    std::ostringstream out;
    std::ostringstream err;
    RunResult result;
    {
        const RedirectedConsole console(out.rdbuf(), err.rdbuf());
        result.status = Run(words, program);
    }
    result.out = out.str();
    result.err = err.str();
    return result;
}

RunResult RunTool(const std::vector<std::string>& args, Edition edition) {
    return RunCaptured(ToolWords(args), Tool(edition));
}

int RunToolOnConsole(const std::vector<std::string>& args, Edition edition) {
    return Run(ToolWords(args), Tool(edition));
}
