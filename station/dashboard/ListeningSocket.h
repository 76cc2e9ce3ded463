#pragma once

#include <httplib.h>

namespace quorl::dashboard {

// Readies the page's listening socket before it is bound: the address may be
// taken again at once after a restart of the station (but never shared with a
// second one), and the socket is never inherited by the worker processes the
// station starts.
void PrepareListeningSocket(socket_t socket);

}  // namespace quorl::dashboard
