#include "platform/process/PortClaim.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct PortClaim::Handle {
    int fd = -1;
};

namespace {

// A port's text as one file name: characters other than letters, digits,
// '.', '-' and '_' become '_' ("usb-0000:00:14.0-1.2" → "usb-0000_00_14.0-1.2").
std::string FileNameOf(const std::string& port) {
    std::string name;
    for (const char c : port) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    return name + ".lock";
}

// A directory for the claims that this user can write: made when missing,
// open to every user (sticky, as /run/lock is) so that stations of two
// users on one computer meet in it.
bool UsableDirectory(const std::string& directory) {
    if (mkdir(directory.c_str(), 01777) == 0) {
        chmod(directory.c_str(), 01777);  // the mode given to mkdir passes the umask
    } else if (errno != EEXIST) {
        return false;
    }
    return access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string ClaimDirectory() {
    if (const char* chosen = std::getenv("QUORL_PORT_CLAIMS"); chosen != nullptr && *chosen) {
        return UsableDirectory(chosen) ? chosen : std::string();
    }
    if (UsableDirectory("/run/lock/quorl")) {
        return "/run/lock/quorl";
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        const std::string directory = std::string(runtime) + "/quorl";
        if (UsableDirectory(directory)) {
            return directory;
        }
    }
    return {};
}

long HolderOf(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

std::unique_ptr<PortClaim> PortClaim::Take(const std::string& port, long& holderPid,
                                           std::string& error) {
    holderPid = 0;
    const std::string directory = ClaimDirectory();
    if (directory.empty()) {
        error = "no directory for port claims can be written (/run/lock/quorl, $XDG_RUNTIME_DIR/quorl)";
        return nullptr;
    }
    const std::string path = directory + "/" + FileNameOf(port);
    // Another user's claim file may be read, not written: a lock holds on
    // either, and only the holder's ID is then not written.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno == EACCES) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    // The file outlives this station: every user's stations must open it.
    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_uid == geteuid()) {
        fchmod(fd, 0666);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        holderPid = HolderOf(fd);
        close(fd);
        if (failure != EWOULDBLOCK) {
            error = path + ": " + std::strerror(failure);
        }
        return nullptr;
    }
    // The holder's process ID, for a second station to name.
    const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
    // Without it the claim still holds; a second station cannot name the holder.
    if (ftruncate(fd, 0) == 0) {
        (void)!pwrite(fd, pid.data(), pid.size(), 0);
    }
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    return std::unique_ptr<PortClaim>(new PortClaim(std::move(handle)));
}

PortClaim::PortClaim(std::unique_ptr<Handle> handle) : handle(std::move(handle)) {}

PortClaim::~PortClaim() {
    if (handle && handle->fd >= 0) {
        close(handle->fd);  // drops the lock
    }
}

}  // namespace platform
