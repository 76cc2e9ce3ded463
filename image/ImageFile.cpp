#include "image/ImageFile.h"

#include <iostream>
#include <vector>
#include <sys/stat.h>

ImageFile OpenImageFile(const std::string& path) {
    ImageFile file(std::fopen(path.c_str(), "rb"));
    if (file) {
        struct stat info {};
        if (fstat(fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) {
            file.reset();
        }
    }
    return file;
}

bool SeekImageFile(std::FILE* file, std::int64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

void ReportUnableToOpen(const std::string& path) {
    std::cerr << "Unable to open: " << path << std::endl;
}

std::uint64_t ImageBytesFrom(std::FILE* file, std::int64_t offset) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || info.st_size <= offset) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size - offset);
}

bool ReadsToTheEnd(std::FILE* file) {
    std::vector<char> buffer(64 * 1024);
    while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
    }
    const bool readable = !std::ferror(file);
    std::clearerr(file);
    return readable && SeekImageFile(file, 0);
}
