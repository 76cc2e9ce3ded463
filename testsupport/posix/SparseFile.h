// A file of any size of which only the given pieces take room on disk
// (POSIX only): images past 4 GiB without writing 4 GiB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/Bytes.h"

class SparseFile {
public:
    struct Piece {
        std::uint64_t offset;
        Bytes bytes;
    };
    SparseFile(const std::string& nameSuffix, std::uint64_t size, const std::vector<Piece>& pieces);
    ~SparseFile();
    SparseFile(const SparseFile&) = delete;
    SparseFile& operator=(const SparseFile&) = delete;

    // False when this file system holds no such file.
    bool Made() const { return made; }
    const std::string& Path() const { return path; }

private:
    std::string path;
    bool made = false;
};
