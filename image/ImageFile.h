// Opening a firmware image for streaming. Every reader of image files goes
// through here, so that all of them agree on what "cannot be opened" means.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file for binary reading, or returns null. A directory counts as a
// file that cannot be opened: Linux lets fopen open one, and its first read
// would fail like an empty image.
ImageFile OpenImageFile(const std::string& path);

// Seeks from the start with a 64-bit offset; images may pass 4 GiB.
bool SeekImageFile(std::FILE* file, std::int64_t offset);

// Bytes of the file from the offset to its end (0 when shorter).
std::uint64_t ImageBytesFrom(std::FILE* file, std::int64_t offset);

// Reads the open file through to its end and rewinds it: false when a read
// fails anywhere (a bad sector, a special file that opens but cannot be read).
bool ReadsToTheEnd(std::FILE* file);

// Writes "Unable to open: " and the path as a line on standard error.
void ReportUnableToOpen(const std::string& path);
