#include "platform/files/Files.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

std::FILE* OpenFileForReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    struct stat info {};
    if (file != nullptr && (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode))) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> FileSize(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void AdviseSequentialReading(std::FILE* file) {
    posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace platform
