#include "devices/ListingText.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdio>

#include "platform/access/DeviceAccess.h"

namespace {

constexpr const char* kColumnGap = "  ";
constexpr const char* kNone = "-";

// The columns in order; the header's words are their names.
constexpr const char* kHeader[] = {"device", "usb ids", "release", "serial",
                                   "product", "port", "path", "access"};
constexpr std::size_t kColumns = std::size(kHeader);
using Row = std::array<std::string, kColumns>;

// The characters a cell takes on a terminal: UTF-8 continuation bytes add none.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string OrNone(const std::string& text) { return text.empty() ? kNone : OnOneLine(text); }

Row Cells(const ListedDevice& device) {
    std::string access = WordsFor(device.access).line;
    // Why, in the system's words: "permission denied" on Linux.
    if (device.access == Access::Denied) {
        access += " (" + platform::DeniedNode(device.path).reason + ")";
    }
    return {
        DeviceWhat(device.what),
        UsbIdText(device.vendorId) + ":" + UsbIdText(device.productId),
        ReleaseText(device.release),
        OrNone(device.serialNumber),
        device.product.empty() ? kNone : "\"" + OnOneLine(device.product) + "\"",
        // The USB port, which tells units of one product apart.
        OrNone(device.port),
        OrNone(device.path),
        access,
    };
}

}  // namespace

std::string DeviceWhat(const DeviceKind& what) {
    return what.kind == "unknown" ? what.kind : what.kind + " " + what.state;
}

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

std::vector<std::string> ListingTable(const std::vector<ListedDevice>& devices) {
    std::vector<Row> rows;
    rows.push_back({});
    std::copy(std::begin(kHeader), std::end(kHeader), rows.back().begin());
    for (const ListedDevice& device : devices) {
        rows.push_back(Cells(device));
    }
    std::array<std::size_t, kColumns> widths{};
    for (const Row& row : rows) {
        for (std::size_t column = 0; column < kColumns; ++column) {
            widths[column] = std::max(widths[column], Width(row[column]));
        }
    }
    std::vector<std::string> lines;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t column = 0; column + 1 < kColumns; ++column) {
            line += row[column] + std::string(widths[column] - Width(row[column]), ' ') + kColumnGap;
        }
        lines.push_back(line + row[kColumns - 1]);
    }
    return lines;
}
