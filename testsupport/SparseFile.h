// A file of any size of which only the given pieces are written: images past
// 4 GiB without writing 4 GiB. Linux's file systems keep the rest as holes
// that take no room (also under Wine); on NTFS it takes its whole size.
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
