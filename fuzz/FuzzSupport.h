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

// Swallows everything written to it, remembering only whether it ended a line.
class NullBuffer : public std::streambuf {
public:
    // True when nothing was written or the last character was a line end.
    bool EndsLine() const { return last == '\n'; }

protected:
    int overflow(int c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            last = traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        if (n > 0) {
            last = text[n - 1];
        }
        return n;
    }

private:
    char last = '\n';
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

struct QuietRun {
    int status = 0;
    bool outEndsLine = true;  // standard output ended with a whole line
    bool errEndsLine = true;  // standard error likewise
};

// RunWords with the console swallowed; with QUORL_FUZZ_ECHO set in the
// environment (to read what one input does), the console and the exit status
// are shown instead.
QuietRun RunQuietly(const std::vector<std::string>& words, Edition edition);

// After a command on the simulated bus: its console ended with whole lines
// (standard error only when it is no terminal, where the progress bar is
// erased without one) and no device handle is left open.
void CheckConsoleAndHandles(const QuietRun& run);

// Deterministic bytes that differ from position to position.
Bytes PatternBytes(std::size_t size, std::uint32_t seed);

// A broken rule: says which on the real standard error and traps, so that
// libFuzzer reports the input as a crash.
[[noreturn]] void Violation(const std::string& what);

}  // namespace fuzz
