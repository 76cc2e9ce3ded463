#include "platform/files/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct RecordFile::Handle {
    int fd = -1;
};

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    // Not blocking: opening a FIFO for writing would wait for a reader
    // forever. Whatever opened is checked before anything is written.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "Is a directory" : "not a regular file";
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    return std::unique_ptr<RecordFile>(new RecordFile(std::move(handle)));
}

RecordFile::RecordFile(std::unique_ptr<Handle> handle) : handle(std::move(handle)) {}

RecordFile::~RecordFile() { close(handle->fd); }

namespace {

// Whether the file's last byte is a line end (or the file is empty). It is
// read through a descriptor of its own: the record's is for writing only.
bool EndsWithLineEnd(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || status.st_size == 0) {
        return true;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int reader = open(self.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0) {
        return true;
    }
    char last = '\n';
    const bool read = pread(reader, &last, 1, status.st_size - 1) == 1;
    close(reader);
    return !read || last == '\n';
}

}  // namespace

bool RecordFile::AppendLine(const std::string& text, std::string& error) {
    // Stations on one machine that share a record take turns.
    flock(handle->fd, LOCK_EX);
    std::string line = EndsWithLineEnd(handle->fd) ? std::string() : std::string("\n");
    line += text;
    line += '\n';
    const ssize_t written = write(handle->fd, line.data(), line.size());
    const int writeError = errno;
    const bool synced = written == static_cast<ssize_t>(line.size()) && fdatasync(handle->fd) == 0;
    const int syncError = errno;
    flock(handle->fd, LOCK_UN);
    if (written < 0) {
        error = std::strerror(writeError);
        return false;
    }
    if (written != static_cast<ssize_t>(line.size())) {
        error = "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
                " bytes written (disk full?)";
        return false;
    }
    if (!synced) {
        error = std::strerror(syncError);
        return false;
    }
    return true;
}

}  // namespace platform
