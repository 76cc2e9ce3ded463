// The command-line grammar: turns the words into the one command that runs,
// with its arguments, before anything runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Edition.h"

enum class CommandKind {
    Usage,               // usage text, exit status 1
    Help,                // usage text, exit status 0
    EmcTest,             // -E words...
    RebootIntoBootloader,// -b
    SetUnitSerial,       // -S serial
    ResetFromBootloader, // -R
    DongleUpgrade,       // image path naming a dongle image
    RadioUpdate,         // image path naming a radio module image
    TivaneUpdate,        // image path naming a Tivane image
    ControllerUpdate,    // any other single image path
    RadioCrc,            // -c path / -C path
    Manifest,            // -v firmware timestamp [bootloader]
    SwdReflash,          // -s ...
};

struct Invocation {
    CommandKind kind = CommandKind::Usage;
    bool debug = false;
    std::string programPath;              // the start path, for the usage text
    std::string path;                     // image, firmware or application file
    std::vector<std::string> words;       // the EMC test's words after "-E"
    std::array<char, 16> serial{};        // -S: at most 16 characters, zero-filled
    bool headerLine = false;              // -C rather than -c
    std::string timestamp;                // -v firmware timestamp text
    std::optional<std::string> bootloader;// -v bootloader file
    std::optional<std::string> softDevice;// -s SoftDevice file (compact edition)
    std::uint32_t address = 0;            // -s application address
    std::optional<std::string> addressWord;// -s address as given (compact edition)

    bool operator==(const Invocation&) const = default;
};

Invocation ParseCommandLine(int argc, const char* const* argv, Edition edition);

bool IsDongleImagePath(const std::string& word);
bool IsRadioImagePath(const std::string& word);
bool IsTivaneImagePath(const std::string& word);

// Unsigned 32-bit number with base detection: "0x" hexadecimal, leading "0"
// octal, else decimal; stops at the first character that does not fit.
std::uint32_t ParseAddress(const std::string& text);

// Whether the whole word is a number in one of the forms ParseAddress reads:
// decimal digits, "0x" or "0X" and hexadecimal digits, or a leading "0" and
// octal digits. Anything else ("softdevice.bin", "1024kb", "09", "0x", a
// sign) would be read as some other address.
bool IsAddressNumber(const std::string& word);
