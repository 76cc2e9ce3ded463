// platform/net: sockets, where operating systems differ (the station's page).
#pragma once

#include <cstdint>

namespace platform {

// Readies a listening socket (a POSIX descriptor or a Windows SOCKET) before
// it is bound: the address may be taken again at once after a restart of the
// station (but never shared with a second one), and the socket is never
// inherited by the worker processes the station starts. Called again once
// the socket listens, it widens the queue of connections waiting to be
// accepted to the system's most (POSIX; Windows keeps the first listen's),
// so that a crowd of browsers is answered rather than retried.
void PrepareListeningSocket(std::uintptr_t socket);

}  // namespace platform
