// platform/files: image files, the station's record file, and SHA-256 of what was written.
// Image files on disk, where operating systems differ: paths in UTF-8, and
// sizes and offsets of 64 bits (images may pass 4 GiB, and `long` is 32 bits
// on Windows).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace platform {

// Opens the file for binary reading; null when it cannot be opened or is a
// directory (Linux opens one, and its first read would fail).
std::FILE* OpenFileForReading(const std::string& path);

// Moves to the byte offset from the start of the file.
bool SeekFile(std::FILE* file, std::int64_t offset);

// The size of a regular file in bytes; nothing for a pipe, a device or
// anything else whose length is only known once it has been read.
std::optional<std::uint64_t> FileSize(std::FILE* file);

// Tells the system that the file will be read once, front to back.
void AdviseSequentialReading(std::FILE* file);

}  // namespace platform
