#include "platform/net/ListeningSocket.h"

#include <winsock2.h>
#include <windows.h>

namespace platform {

void PrepareListeningSocket(std::uintptr_t handle) {
    const SOCKET socket = static_cast<SOCKET>(handle);
    // Exclusive use: Windows would otherwise let another program bind the
    // same port over this one.
    const BOOL yes = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof(yes));
    // httplib makes its sockets with WSA_FLAG_NO_HANDLE_INHERIT where Windows
    // knows it; this covers a socket made without, and the workers are
    // started with the list of the only handles they inherit anyway.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace platform
