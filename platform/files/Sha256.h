// The SHA-256 of an image file, for the records that say which bytes went
// into a unit: from a vetted implementation of the system (OpenSSL's
// libcrypto on Linux, the system's BCrypt on Windows), never our own.
#pragma once

#include <optional>
#include <string>

namespace platform {

// 64 lowercase hexadecimal digits; nothing when the file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace platform
