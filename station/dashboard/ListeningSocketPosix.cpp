#include "station/dashboard/ListeningSocket.h"

#include <fcntl.h>
#include <sys/socket.h>

namespace quorl::dashboard {

void PrepareListeningSocket(socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    const int flags = fcntl(socket, F_GETFD);
    if (flags != -1) {
        fcntl(socket, F_SETFD, flags | FD_CLOEXEC);
    }
}

}  // namespace quorl::dashboard
