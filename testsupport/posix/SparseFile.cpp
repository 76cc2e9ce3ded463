#include "testsupport/posix/SparseFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "testsupport/TempFiles.h"

namespace {

// Memory-backed when there is such a file system: its holes read back at
// memory speed, where a disk's take seconds for 4 GiB.
std::string Directory() {
    return access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string();
}

}  // namespace

SparseFile::SparseFile(const std::string& nameSuffix, std::uint64_t size,
                       const std::vector<Piece>& pieces)
    : path(Directory().empty() ? TempPath(nameSuffix) : Directory() + "/" + TempName(nameSuffix)) {
    const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    made = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (const Piece& piece : pieces) {
        made = made && pwrite(fd, piece.bytes.data(), piece.bytes.size(),
                              static_cast<off_t>(piece.offset)) ==
                           static_cast<ssize_t>(piece.bytes.size());
    }
    if (fd >= 0) {
        close(fd);
    }
}

SparseFile::~SparseFile() { std::remove(path.c_str()); }
