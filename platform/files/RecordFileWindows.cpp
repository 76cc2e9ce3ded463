#include "platform/files/RecordFile.h"

#include <algorithm>

#include <windows.h>

#include "platform/text/WideText.h"

namespace platform {

struct RecordFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
};

namespace {

std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// The names that Windows takes for a device in any folder, whatever the case
// and extension: "logs\nul.txt" is the null device, "com1.log" a serial
// port that an open would set going. Superscript digits count as digits.
const char* const kDeviceNames[] = {
    "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
    "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3",
    "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
    "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3"};

// The device that the path's last name stands for, or empty: the name up to
// its first dot or colon, without the spaces Windows drops at its end, and
// without a drive letter in front ("C:nul").
std::string DeviceNamed(const std::string& path) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    if (name.size() >= 2 && name[1] == ':' && name.size() == path.size()) {
        name.erase(0, 2);
    }
    name = name.substr(0, name.find_first_of(".:"));
    name.erase(name.find_last_not_of(' ') + 1);
    name = AsciiUpper(std::move(name));
    for (const char* device : kDeviceNames) {
        if (name == device) {
            return name;
        }
    }
    return {};
}

// A path in the system's device namespace (\\.\pipe\x, \\.\C:, \\?\GLOBALROOT\...,
// \??\...) names no file; \\?\ before a drive or a UNC share does.
bool IsDevicePath(std::string path) {
    path = AsciiUpper(std::move(path));
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\??\\", 0) == 0) {
        return true;
    }
    if (path.rfind("\\\\?\\", 0) != 0) {
        return false;
    }
    const std::string rest = path.substr(4);
    const bool drive = rest.size() >= 3 && rest[0] >= 'A' && rest[0] <= 'Z' && rest[1] == ':' &&
                       rest[2] == '\\';
    return !drive && rest.rfind("UNC\\", 0) != 0;
}

}  // namespace

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    // Refused before any open: opening a device may already act on it.
    if (const std::string device = DeviceNamed(path); !device.empty()) {
        error = device + " is a reserved device name on Windows, in any folder and with any extension";
        return nullptr;
    }
    if (IsDevicePath(path)) {
        error = "a device path, not a file";
        return nullptr;
    }
    const std::wstring widePath = WideFromUtf8(path);
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "a folder, not a file";
        return nullptr;
    }
    // Appending only, reading for the check of the last byte; others may
    // read and append at the same time.
    HANDLE file = CreateFileW(widePath.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return nullptr;
    }
    // A pipe or a character device that came by another name.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = "not a regular file";
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
