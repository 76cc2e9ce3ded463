#include "platform/net/ListeningSocket.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace platform {

void PrepareListeningSocket(std::uintptr_t handle) {
    const int socket = static_cast<int>(handle);
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    const int flags = fcntl(socket, F_GETFD);
    if (flags != -1) {
        fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
    }
}

}  // namespace platform
