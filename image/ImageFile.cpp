#include "image/ImageFile.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/files/Files.h"

namespace {

constexpr std::size_t kReadThroughBufferSize = 64 * 1024;

}  // namespace

ImageFile OpenImageFile(const std::string& path) {
    return ImageFile(platform::OpenFileForReading(path));
}

bool SkipToOffset(std::FILE* file, std::int64_t offset) {
    if (platform::SeekFile(file, offset)) {
        return true;
    }
    std::vector<char> buffer(kReadThroughBufferSize);
    for (std::int64_t left = offset; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = std::fread(buffer.data(), 1, want, file);
        left -= static_cast<std::int64_t>(got);
        if (got < want) {
            return !std::ferror(file);
        }
    }
    return true;
}

std::optional<std::uint64_t> ImageFileSize(std::FILE* file) { return platform::FileSize(file); }

std::uint64_t ImageBytesFrom(std::FILE* file, std::int64_t offset) {
    const std::uint64_t size = ImageFileSize(file).value_or(0);
    const std::uint64_t start = offset > 0 ? static_cast<std::uint64_t>(offset) : 0;
    return size > start ? size - start : 0;
}

bool ReadsToTheEnd(std::FILE* file) {
    const std::optional<std::uint64_t> reported = ImageFileSize(file);
    std::vector<char> buffer(kReadThroughBufferSize);
    std::uint64_t count = 0;
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
        count += n;
        if (n < buffer.size()) {
            break;
        }
    }
    const bool readable = !std::ferror(file);
    std::clearerr(file);
    // Commands plan by the reported size (pages to erase or keep, the
    // dongle's pages): a file whose bytes say otherwise (procfs, some FUSE
    // and sysfs files report 0) cannot be streamed as what it claims to be.
    const bool sizeHolds = !reported || *reported == count;
    return readable && sizeHolds && platform::SeekFile(file, 0);
}

void ReportUnableToOpen(const std::string& path) {
    std::cerr << "Unable to open: " << path << std::endl;
}

ImageFile OpenCheckedImage(const std::string& path) {
    ImageFile file = OpenImageFile(path);
    if (!file || !ReadsToTheEnd(file.get())) {
        ReportUnableToOpen(path);
        return nullptr;
    }
    return file;
}
