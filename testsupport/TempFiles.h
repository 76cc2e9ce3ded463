// Files and directories in the system's temporary directory, removed with
// the object that made them. Names are unique to the process and the call;
// a name's suffix can choose the command for an image path ("_module.bin",
// "_dongle.bin", "_tivane.bin").
#pragma once

#include <cstdint>
#include <string>

#include "testsupport/Bytes.h"

// A file name that nothing uses yet, ending in the suffix.
std::string TempName(const std::string& nameSuffix);
// That name in the system's temporary directory.
std::string TempPath(const std::string& nameSuffix);

class TempFile {
public:
    explicit TempFile(const Bytes& content, const std::string& nameSuffix = ".bin");
    // A file of `size` pattern bytes, written piece by piece: an image larger
    // than a test wants to hold.
    static TempFile OfPattern(std::uint64_t size, std::uint32_t seed,
                              const std::string& nameSuffix = ".bin");
    ~TempFile();
    TempFile(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile& operator=(TempFile&&) = delete;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

// A directory whose files the caller names; removed with all it holds.
class TempDirectory {
public:
    explicit TempDirectory(const std::string& nameSuffix = "");
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path; }
    // Writes the bytes to the file of that name in the directory (replacing
    // it) and returns its path.
    std::string Write(const std::string& name, const Bytes& content) const;

private:
    std::string path;
};
