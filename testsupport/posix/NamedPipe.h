// A named pipe (POSIX only): a file that opens like an image but has no
// size before it is read. Held open for writing while it lives, so that a
// reader's open does not wait for a writer.
#pragma once

#include <string>

class NamedPipe {
public:
    explicit NamedPipe(std::string path);
    ~NamedPipe();
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    bool Made() const { return writer >= 0; }
    const std::string& Path() const { return path; }

private:
    std::string path;
    int writer = -1;
};
