#include "devices/ListingText.h"

#include <algorithm>
#include <cstdio>

#include "platform/access/DeviceAccess.h"

namespace {

// Wide enough for the longest description, "Tivane serial application".
constexpr std::size_t kWhatColumn = 27;

}  // namespace

std::string OnOneLine(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return text;
}

std::string ReleaseText(std::uint16_t release) {
    char text[8];
    std::snprintf(text, sizeof text, "%x.%02x", static_cast<unsigned>(release >> 8),
                  static_cast<unsigned>(release & 0xFF));
    return text;
}

std::string UsbIdText(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
    return text;
}

AccessWords WordsFor(Access access) {
    switch (access) {
        case Access::Ok:
            return {"can open", "ok"};
        case Access::Denied:
            return {"cannot open", "denied"};
        case Access::Unknown:
            return {"access unknown (not opened)", "unknown"};
        case Access::Held:
            return {"can open (in use by another program)", "held"};
        case Access::Failed:
            break;
    }
    return {"cannot open", "failed"};
}

std::string ListingLine(const ListedDevice& device) {
    std::string what = device.what.kind == "unknown" ? device.what.kind
                                                     : device.what.kind + " " + device.what.state;
    what.resize(std::max(what.size(), kWhatColumn), ' ');
    std::string line = what + UsbIdText(device.vendorId) + ":" + UsbIdText(device.productId) +
                       "  release " + ReleaseText(device.release);
    if (!device.serialNumber.empty()) {
        line += "  serial " + OnOneLine(device.serialNumber);
    }
    if (!device.product.empty()) {
        line += "  \"" + OnOneLine(device.product) + "\"";
    }
    line += "  " + (device.path.empty() ? std::string("(no port)") : OnOneLine(device.path));
    // The USB port, which tells units of one product apart.
    if (!device.port.empty()) {
        line += "  port " + OnOneLine(device.port);
    }
    line += "  " + std::string(WordsFor(device.access).line);
    // Why, in the system's words: "permission denied" on Linux.
    if (device.access == Access::Denied) {
        line += " (" + platform::DeniedNode(device.path).reason + ")";
    }
    return line;
}
