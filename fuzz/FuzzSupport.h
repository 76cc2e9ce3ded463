// What every fuzz target needs: the tool run in-process with its console
// swallowed or captured, image files in a directory of this process, and a
// way to stop on a broken rule so that libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/Edition.h"

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// Reads a fuzz input from the front; bytes past its end read as 0.
class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    // Up to count bytes, fewer at the end of the input.
    Bytes Take(std::size_t count);
    // Everything not read yet.
    Bytes Rest() { return Take(size - at); }
    bool AtEnd() const { return at >= size; }

private:
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
};

// Swallows everything written to it.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Points std::cout and std::cerr at other buffers for its lifetime.
class RedirectedConsole {
public:
    RedirectedConsole(std::streambuf* out, std::streambuf* err);
    ~RedirectedConsole();
    RedirectedConsole(const RedirectedConsole&) = delete;
    RedirectedConsole& operator=(const RedirectedConsole&) = delete;

private:
    std::streambuf* oldOut;
    std::streambuf* oldErr;
};

// A directory of this process under /tmp, made on first use and removed with
// everything in it when the process exits.
const std::string& ProcessTempDir();

// Writes the bytes to a file of that name in the process's directory and
// returns its path.
std::string WriteTempFile(const std::string& name, const Bytes& content);

// Runs the tool as "QuorlFirmwareUpdateApp words..." and returns its exit status.
int RunWords(const std::vector<std::string>& words, Edition edition);

// RunWords with the console swallowed; with QUORL_FUZZ_ECHO set in the
// environment (to read what one input does), the console and the exit status
// are shown instead.
int RunQuietly(const std::vector<std::string>& words, Edition edition);

// Deterministic bytes that differ from position to position.
Bytes PatternBytes(std::size_t size, std::uint32_t seed);

// A broken rule: says which on the real standard error and traps, so that
// libFuzzer reports the input as a crash.
[[noreturn]] void Violation(const std::string& what);

}  // namespace fuzz
