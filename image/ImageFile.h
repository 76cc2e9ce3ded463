// Opening a firmware image for streaming. Every reader of image files goes
// through here, so that all of them agree on what "cannot be opened" means.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file for binary reading, or returns null. A directory counts as a
// file that cannot be opened.
ImageFile OpenImageFile(const std::string& path);

// Moves a file that has just been opened to the byte offset: by seeking, or,
// in a pipe, by reading past the bytes before it. False when the file cannot
// be positioned there; a file shorter than the offset ends up at its end.
bool SkipToOffset(std::FILE* file, std::int64_t offset);

// The image's size in bytes, or nothing when it has none before it is read (a
// pipe, a device).
std::optional<std::uint64_t> ImageFileSize(std::FILE* file);

// Bytes of the file from the offset to its end (0 when shorter or unknown).
std::uint64_t ImageBytesFrom(std::FILE* file, std::int64_t offset);

// Reads the open file through to its end and rewinds it: false when a read
// fails anywhere (a bad sector, a special file that opens but cannot be read),
// when the bytes read differ from the size the file reports (a procfs file
// of size 0 that has content), or when it cannot be read a second time (a
// pipe).
bool ReadsToTheEnd(std::FILE* file);

// Writes "Unable to open: " and the path as a line on standard error.
void ReportUnableToOpen(const std::string& path);

// Opens the image and reads it through to its end, so that a file that
// cannot be streamed whole is found before any device is touched: the file,
// back at its start, or null after "Unable to open: " and the path.
ImageFile OpenCheckedImage(const std::string& path);
