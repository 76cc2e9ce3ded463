#include "app/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

bool IsDongleImagePath(const std::string& word) {
    return word.find("_dongle") != std::string::npos ||
           word.find("linktester") != std::string::npos;
}

bool IsRadioImagePath(const std::string& word) {
    return word.find("_module") != std::string::npos;
}

bool IsTivaneImagePath(const std::string& word) { return word.find("ivane") != std::string::npos; }

std::uint32_t ParseAddress(const std::string& text) {
    // Only a word that begins with a digit is a number: strtoull would also
    // take leading blanks and a sign, and turn "-98304" into a huge address.
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) {
        return 0;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 0);
    // Out of range saturates, as a 32-bit strtoul does.
    if (errno == ERANGE || value > std::numeric_limits<std::uint32_t>::max()) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(value);
}

bool IsAddressNumber(const std::string& word) {
    const auto digitsFrom = [&](std::size_t from, const char* digits) {
        return from < word.size() && word.find_first_not_of(digits, from) == std::string::npos;
    };
    if (word.starts_with("0x") || word.starts_with("0X")) {
        return digitsFrom(2, "0123456789abcdefABCDEF");
    }
    if (word.starts_with("0")) {
        return digitsFrom(0, "01234567");
    }
    return digitsFrom(0, "0123456789");
}

namespace {

CommandKind ImageCommandFor(const std::string& path) {
    if (IsDongleImagePath(path)) {
        return CommandKind::DongleUpgrade;
    }
    if (IsRadioImagePath(path)) {
        return CommandKind::RadioUpdate;
    }
    if (IsTivaneImagePath(path)) {
        return CommandKind::TivaneUpdate;
    }
    return CommandKind::ControllerUpdate;
}

}  // namespace

Invocation ParseCommandLine(int argc, const char* const* argv, Edition edition) {
    Invocation inv;
    inv.programPath = argc > 0 ? argv[0] : "";
    // w[0] is the start path; w[1], w[2], ... the arguments.
    std::vector<std::string> w(argv, argv + (argc > 0 ? argc : 0));
    if (w.empty()) {
        w.emplace_back();
    }
    if (w.size() >= 2 && w[1] == "-d") {
        inv.debug = true;
        w.erase(w.begin() + 1);
    }
    const std::size_t n = w.size();
    const std::string w1 = n >= 2 ? w[1] : std::string();

    if (n >= 2 && w1 == "-E") {
        inv.kind = CommandKind::EmcTest;
        inv.words.assign(w.begin() + 2, w.end());
    } else if ((n == 2 || n == 3) && w1 == "-h") {
        inv.kind = CommandKind::Help;
    } else if (n >= 2 && w1 == "-b") {
        inv.kind = CommandKind::RebootIntoBootloader;
    } else if (n >= 3 && w1 == "-S") {
        inv.kind = CommandKind::SetUnitSerial;
        // Bounded copy: zero-filled when shorter, no terminating zero at 16 or more.
        w[2].copy(inv.serial.data(), inv.serial.size());
    } else if (n == 2 && w1 == "-R") {
        inv.kind = CommandKind::ResetFromBootloader;
    } else if (n == 2) {
        inv.kind = ImageCommandFor(w1);
        inv.path = w1;
    } else if (n == 3 && (w1 == "-c" || w1 == "-C")) {
        inv.kind = CommandKind::RadioCrc;
        inv.path = w[2];
        inv.headerLine = w1 == "-C";
    } else if (n >= 4 && w1 == "-v") {
        inv.kind = CommandKind::Manifest;
        inv.path = w[2];
        inv.timestamp = w[3];
        if (n >= 5) {
            inv.bootloader = w[4];
        }
    } else if (edition == Edition::Standard && n == 3 && w1 == "-s") {
        inv.kind = CommandKind::SwdReflash;
        inv.path = w[2];
    } else if (edition == Edition::Compact && (n == 4 || n == 5) && w1 == "-s") {
        inv.kind = CommandKind::SwdReflash;
        if (n == 5) {
            inv.softDevice = w[2];
        }
        inv.address = ParseAddress(w[n - 2]);
        inv.addressWord = w[n - 2];
        inv.path = w[n - 1];
    }
    return inv;
}
