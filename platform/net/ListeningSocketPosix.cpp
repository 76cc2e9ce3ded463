#include "platform/net/ListeningSocket.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace platform {

void PrepareListeningSocket(std::uintptr_t handle) {
    const int socket = static_cast<int>(handle);
    int listening = 0;
    socklen_t size = sizeof(listening);
    if (getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0) {
        // Called again once httplib listens: its queue of connections not yet
        // accepted holds 5, and a connection beyond is dropped and retried
        // by its client only a second later. Listening again widens the
        // queue to what the system allows (Linux and the BSDs take a new
        // backlog on a listening socket).
        listen(socket, SOMAXCONN);
        return;
    }
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    const int flags = fcntl(socket, F_GETFD);
    if (flags != -1) {
        fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
    }
}

}  // namespace platform
