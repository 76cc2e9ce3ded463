// hidapi hands out device strings as wide characters: UTF-32 where wchar_t
// has 32 bits (Linux), UTF-16 where it has 16 (Windows).
#pragma once

#include <string>

// The text in UTF-8; empty for a null pointer. A broken surrogate pair or a
// value past U+10FFFF becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text);
