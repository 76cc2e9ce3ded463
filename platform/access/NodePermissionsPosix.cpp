#include "platform/access/NodePermissions.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

NodeAccess NodePermissionsForThisProcess(const std::string& node) {
    if (faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
        return NodeAccess::Granted;
    }
    return errno == EACCES || errno == EPERM ? NodeAccess::Denied : NodeAccess::Unavailable;
}

}  // namespace platform
