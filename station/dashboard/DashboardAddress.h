#pragma once

#include <string>

namespace quorl::dashboard {

// Where the page is served, from --dashboard [ADDRESS:]PORT.
struct DashboardAddress {
    bool ok = false;
    std::string host = "127.0.0.1";  // an IPv6 address without its brackets
    int port = 0;                    // 0: any free port, read back once bound
    std::string error;               // when !ok: what is wrong with the text
    std::string warning;             // when the address reaches beyond this computer
};

// "8080", "127.0.0.1:8080", "0.0.0.0:8080", "[::1]:8080", "localhost:0".
// Only loopback keeps the bench to this computer; any other address is
// accepted with a warning, since the page has no login.
DashboardAddress ParseDashboardAddress(const std::string& text);

bool IsLoopbackHost(const std::string& host);

// The page's address as a browser writes it: http://HOST:PORT/.
std::string DashboardUrl(const std::string& host, int port);

}  // namespace quorl::dashboard
