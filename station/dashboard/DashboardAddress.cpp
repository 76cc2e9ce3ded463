#include "station/dashboard/DashboardAddress.h"

#include <algorithm>
#include <cctype>

namespace quorl::dashboard {

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// An IPv4 address in dotted-quad form, each part 0..255 without a sign.
bool IsIpv4(const std::string& text) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!AllDigits(part) || part.size() > 3 || std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return parts == 4;
}

bool IsIpv6(const std::string& text) {
    return !text.empty() && text.find(':') != std::string::npos &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; });
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || (IsIpv4(host) && host.rfind("127.", 0) == 0);
}

std::string DashboardUrl(const std::string& host, int port) {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(port) + "/";
}

DashboardAddress ParseDashboardAddress(const std::string& text) {
    DashboardAddress address;
    std::string portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) {
            address.error = "an IPv6 address is written [ADDRESS]:PORT";
            return address;
        }
        address.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        if (!IsIpv6(address.host)) {
            address.error = "'" + address.host + "' is not an IPv6 address";
            return address;
        }
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        address.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.host != "localhost" && !IsIpv4(address.host)) {
            address.error = "'" + address.host + "' is not an IPv4 address (write an IPv6 one as [ADDRESS]:PORT)";
            return address;
        }
    }
    if (!AllDigits(portText) || portText.size() > 5 || std::stoi(portText) > 65535) {
        address.error = "'" + portText + "' is not a port number (0 to 65535; 0 picks a free one)";
        return address;
    }
    address.port = std::stoi(portText);
    address.ok = true;
    if (!IsLoopbackHost(address.host)) {
        address.warning = "the dashboard at " + DashboardUrl(address.host, address.port) +
                          " can be read by anyone on that network";
    }
    return address;
}

}  // namespace quorl::dashboard
