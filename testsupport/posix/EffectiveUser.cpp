#include "testsupport/posix/EffectiveUser.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

PermissionsEnforced::PermissionsEnforced() {
    if (geteuid() == 0) {
        dropped = seteuid(kNobody) == 0;
        usable = dropped;
    }
}

PermissionsEnforced::~PermissionsEnforced() {
    if (dropped && seteuid(0) != 0) {
        std::abort();  // the rest of the suite cannot run as nobody
    }
}

bool ReadingIsDenied(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        close(fd);
        return false;
    }
    return errno == EACCES;
}
