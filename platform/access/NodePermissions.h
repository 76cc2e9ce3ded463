// Whether this process may read and write a device node (a hidraw node, a
// terminal), judged by its permissions without opening it (POSIX only).
#pragma once

#include <string>

#include "platform/access/DeviceAccess.h"

namespace platform {

// For the effective user and groups, as an open by this process meets them:
// a tool given access by a setgid or setuid install is not refused what its
// open was granted (access() would judge the real user).
NodeAccess NodePermissionsForThisProcess(const std::string& node);

}  // namespace platform
