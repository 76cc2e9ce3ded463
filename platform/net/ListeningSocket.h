// platform/net: sockets, where operating systems differ (the station's page).
#pragma once

#include <cstdint>

namespace platform {

// Readies a listening socket (a POSIX descriptor or a Windows SOCKET) before
// it is bound: the address may be taken again at once after a restart of the
// station (but never shared with a second one), and the socket is never
// inherited by the worker processes the station starts.
void PrepareListeningSocket(std::uintptr_t socket);

}  // namespace platform
