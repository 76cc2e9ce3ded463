// A record file that only ever grows by whole lines: a station's log, which
// other programs read while stations append to it. Each line goes out in one
// write and is flushed to the disk before the call returns, so that a crash
// of the station loses at most the line it was writing and never leaves a
// half line in front of the next one.
#pragma once

#include <memory>
#include <string>

namespace platform {

class RecordFile {
public:
    // Opens the file for appending, creating it when it does not exist; null
    // with the system's reason when it cannot be written.
    static std::unique_ptr<RecordFile> Open(const std::string& path, std::string& error);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Appends the text and a line end. A file that does not end with a line
    // end (an earlier writer stopped in the middle of a line) gets one
    // first, so that the broken line stays alone and this one stays whole.
    // False with the system's reason when the line could not be written.
    bool AppendLine(const std::string& text, std::string& error);

    struct Handle;

private:
    explicit RecordFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle;
};

}  // namespace platform
