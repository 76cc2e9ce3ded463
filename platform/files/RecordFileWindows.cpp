#include "platform/files/RecordFile.h"

#include <windows.h>

#include "platform/text/WideText.h"

namespace platform {

struct RecordFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
};

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    // Appending only, reading for the check of the last byte; others may
    // read and append at the same time.
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return nullptr;
    }
    auto handle = std::make_unique<Handle>();
    handle->file = file;
    return std::unique_ptr<RecordFile>(new RecordFile(std::move(handle)));
}

RecordFile::RecordFile(std::unique_ptr<Handle> handle) : handle(std::move(handle)) {}

RecordFile::~RecordFile() { CloseHandle(handle->file); }

bool RecordFile::AppendLine(const std::string& text, std::string& error) {
    OVERLAPPED whole{};
    LockFileEx(handle->file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    std::string line;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle->file, &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
        char last = '\n';
        DWORD read = 0;
        if (ReadFile(handle->file, &last, 1, &read, &at) && read == 1 && last != '\n') {
            line = "\n";
        }
    }
    line += text;
    line += "\r\n";
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(handle->file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    const DWORD writeError = GetLastError();
    const BOOL flushed = wrote && FlushFileBuffers(handle->file);
    const DWORD flushError = GetLastError();
    UnlockFileEx(handle->file, 0, MAXDWORD, MAXDWORD, &whole);
    if (!wrote || written != line.size()) {
        error = wrote ? "only part of the line was written (disk full?)" : SystemErrorText(writeError);
        return false;
    }
    if (!flushed) {
        error = SystemErrorText(flushError);
        return false;
    }
    return true;
}

}  // namespace platform
