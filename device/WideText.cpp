#include "device/WideText.h"

#include <cstdint>
#include <type_traits>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = kReplacement;
    }
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string Utf8FromWide(const wchar_t* text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (const wchar_t* at = text; *at != L'\0'; ++at) {
        char32_t code = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*at));
        // UTF-16: a high surrogate followed by a low one is one character.
        if constexpr (sizeof(wchar_t) == 2) {
            const char32_t next = static_cast<char16_t>(at[1]);
            if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
                ++at;
            }
        }
        AppendUtf8(out, code);
    }
    return out;
}
