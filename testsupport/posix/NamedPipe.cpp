#include "testsupport/posix/NamedPipe.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

NamedPipe::NamedPipe(std::string path) : path(std::move(path)) {
    if (mkfifo(this->path.c_str(), 0600) == 0) {
        writer = open(this->path.c_str(), O_RDWR);
    }
}

NamedPipe::~NamedPipe() {
    if (writer >= 0) {
        close(writer);
    }
    std::remove(path.c_str());
}
