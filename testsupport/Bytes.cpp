#include "testsupport/Bytes.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kReportLength = 64;

int DigitValue(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0
               ? c - '0'
               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

}  // namespace

PatternGenerator::PatternGenerator(std::uint32_t seed) : state(seed * 2654435761u + 12345u) {}

void PatternGenerator::Fill(std::uint8_t* data, std::size_t size) {
    // xorshift32: cheap, and no byte follows from its neighbour in an obvious way.
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data[i] = static_cast<std::uint8_t>(state);
    }
}

Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    PatternGenerator(seed).Fill(bytes.data(), bytes.size());
    return bytes;
}

Bytes HexBytes(const std::string& hex) {
    std::string digits;
    for (char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        }
    }
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(DigitValue(digits[i]) * 16 + DigitValue(digits[i + 1])));
    }
    return bytes;
}

Bytes ReportBytes(const std::string& hex) {
    Bytes report = HexBytes(hex);
    report.resize(std::max(report.size(), kReportLength), 0x00);
    return report;
}

std::string HexDigits(const std::uint8_t* data, std::size_t size, const char* separator,
                      const char* prefix) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += i == 0 ? "" : separator;
        text += prefix;
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

std::string HexDigits(const Checksum128& checksum, const char* separator, const char* prefix) {
    return HexDigits(checksum.data(), checksum.size(), separator, prefix);
}

Bytes Tail(const Bytes& bytes, std::size_t from) {
    return Bytes(bytes.begin() + static_cast<long>(std::min(from, bytes.size())), bytes.end());
}

Bytes Repeating(const Bytes& content, std::size_t offset, std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = content[(offset + i) % content.size()];
    }
    return bytes;
}
