// A program run in a child process with its output on a pseudo-terminal or
// on pipes (POSIX only), for what only a separate process shows: a console
// that is a terminal, and the output as the operating system passes it on.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ChildOutput {
    std::string out;  // on a terminal: standard output and standard error together
    std::string err;
    int status = -1;  // the exit status, -1 when the child did not exit
};

using Environment = std::map<std::string, std::string>;

// Standard output and standard error on one pseudo-terminal of that width.
ChildOutput RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const Environment& environment, int columns);

// Standard output and standard error on a pipe each; standard output goes to
// the named file instead when there is one (/dev/full: a disk that is full).
ChildOutput RunOnPipes(const std::string& program, const std::vector<std::string>& args,
                       const Environment& environment, const char* outputFile = nullptr);
