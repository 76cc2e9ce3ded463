// The tool run in this process, as "QuorlFirmwareUpdateApp words...", over
// whatever the simulator has plugged in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Edition.h"
#include "testsupport/Transcript.h"

struct RunResult {
    int status = 0;
    std::string out;  // standard output
    std::string err;  // standard error
    Transcript OutLines() const;
    Transcript ErrLines() const;
};

// Runs the tool with its standard output and standard error captured.
RunResult RunTool(const std::vector<std::string>& args, Edition edition = Edition::Standard);

// A program's entry, main() without the process: the tool's, the device listing's.
using ProgramEntry = std::function<int(int argc, const char* const* argv)>;

// Runs the entry with words as its command line (program name first), with
// its standard output and standard error captured.
RunResult RunCaptured(const std::vector<std::string>& words, const ProgramEntry& program);

// Runs the tool on the real console; only the exit status comes back.
int RunToolOnConsole(const std::vector<std::string>& args, Edition edition = Edition::Standard);
