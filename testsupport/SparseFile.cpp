#include "testsupport/SparseFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "testsupport/TempFiles.h"

namespace {

// Memory-backed where there is such a file system (Linux): its holes read
// back at memory speed, where a disk's take seconds for 4 GiB.
std::string PathFor(const std::string& nameSuffix) {
    std::error_code error;
    const std::filesystem::path memory = "/dev/shm";
    if (std::filesystem::is_directory(memory, error)) {
        return (memory / TempName(nameSuffix)).string();
    }
    return TempPath(nameSuffix);
}

}  // namespace

// The size first, so that the pieces land in a file that is all hole.
SparseFile::SparseFile(const std::string& nameSuffix, std::uint64_t size,
                       const std::vector<Piece>& pieces)
    : path(PathFor(nameSuffix)) {
    std::error_code error;
    { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, size, error);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    made = !error && file.is_open();
    for (const Piece& piece : pieces) {
        file.seekp(static_cast<std::streamoff>(piece.offset));
        file.write(reinterpret_cast<const char*>(piece.bytes.data()),
                   static_cast<std::streamsize>(piece.bytes.size()));
    }
    file.close();
    made = made && !file.fail();
}

SparseFile::~SparseFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}
