#include "tests/TestSupport.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "app/Dispatcher.h"

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> RunResult::OutLines() const { return Lines(out); }
std::vector<std::string> RunResult::ErrLines() const { return Lines(err); }

RunResult RunTool(const std::vector<std::string>& args, Edition edition) {
    std::vector<std::string> words = {"QuorlFirmwareUpdateApp"};
    words.insert(words.end(), args.begin(), args.end());
    return RunCaptured(words, [edition](int argc, const char* const* argv) {
        return RunApp(argc, argv, edition);
    });
}

RunResult RunCaptured(const std::vector<std::string>& words, const ProgramEntry& program) {
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
    RunResult result;
    result.status = program(static_cast<int>(argv.size()), argv.data());
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    result.out = out.str();
    result.err = err.str();
    return result;
}

TempFile::TempFile(const std::vector<std::uint8_t>& content, const std::string& nameSuffix) {
    static std::atomic<int> counter{0};
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr ? dir : "/tmp") + "/quorl_test_" + std::to_string(getpid()) +
           "_" + std::to_string(counter++) + nameSuffix;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

TempFile::~TempFile() { std::remove(path.c_str()); }

std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    return bytes;
}

sim::Bytes HexBytes(const std::string& hex) {
    sim::Bytes bytes;
    std::string digits;
    for (char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}
