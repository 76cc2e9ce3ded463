#include "testsupport/TempFiles.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// Tells this process's names from those of the tests running beside it.
const std::string& ProcessToken() {
    static const std::string token = [] {
        std::random_device device;
        const std::uint64_t value = (std::uint64_t{device()} << 32) | device();
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return HexDigits(bytes, sizeof bytes);
    }();
    return token;
}

void Write(std::ofstream& file, const std::uint8_t* data, std::size_t size) {
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Check(const std::ofstream& file, const std::string& path) {
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteFile(const std::string& path, const Bytes& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    Write(file, content.data(), content.size());
    Check(file, path);
}

}  // namespace

std::string TempName(const std::string& nameSuffix) {
    static std::atomic<unsigned> counter{0};
    return "quorl_" + ProcessToken() + "_" + std::to_string(counter++) + nameSuffix;
}

std::string TempPath(const std::string& nameSuffix) {
    return (std::filesystem::temp_directory_path() / TempName(nameSuffix)).string();
}

TempFile::TempFile(const Bytes& content, const std::string& nameSuffix)
    : path(TempPath(nameSuffix)) {
    WriteFile(path, content);
}

TempFile TempFile::OfPattern(std::uint64_t size, std::uint32_t seed,
                             const std::string& nameSuffix) {
    TempFile file(Bytes{}, nameSuffix);
    std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
    PatternGenerator pattern(seed);
    std::vector<std::uint8_t> piece(1 << 20);
    for (std::uint64_t left = size; left > 0 && out;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
        pattern.Fill(piece.data(), n);
        Write(out, piece.data(), n);
        left -= n;
    }
    Check(out, file.path);
    return file;
}

TempFile::TempFile(TempFile&& other) noexcept : path(std::move(other.path)) { other.path.clear(); }

TempFile::~TempFile() {
    if (!path.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

TempDirectory::TempDirectory(const std::string& nameSuffix) : path(TempPath(nameSuffix)) {
    std::filesystem::create_directory(path);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDirectory::Write(const std::string& name, const Bytes& content) const {
    const std::string file = (std::filesystem::path(path) / name).string();
    WriteFile(file, content);
    return file;
}
