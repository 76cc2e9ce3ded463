#include "platform/files/Files.h"

#include <sys/stat.h>

#include "platform/text/WideText.h"

namespace platform {

std::FILE* OpenFileForReading(const std::string& path) {
    // The wide call, so that a path in any script opens; "S" asks the cache
    // for reading front to back.
    std::FILE* file = _wfopen(WideFromUtf8(path).c_str(), L"rbS");
    struct _stat64 info {};
    if (file != nullptr &&
        (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) == _S_IFDIR)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
    return _fseeki64(file, offset, SEEK_SET) == 0;
}

std::optional<std::uint64_t> FileSize(std::FILE* file) {
    struct _stat64 info {};
    if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG ||
        info.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

// The file was opened for sequential reading already.
void AdviseSequentialReading(std::FILE*) {}

}  // namespace platform
