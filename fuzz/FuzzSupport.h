// What the fuzz targets add to the shared test support: reading an input
// from the front, a directory of image files for the process, running the
// tool quietly, and stopping on a broken rule so that libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Edition.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"

namespace fuzz {

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

// The process's directory of image files, made on first use and removed with
// everything in it when the process exits. Its path holds no image marker
// ("_dongle", "_module", "ivane", "linktester"), so file names alone choose
// the command.
const TempDirectory& ProcessTempDir();

// The tool run with its console captured; with QUORL_FUZZ_ECHO set in the
// environment (to read what one input does), on the real console instead,
// with its command line and exit status.
RunResult RunQuietly(const std::vector<std::string>& words, Edition edition);

// After a command on the simulated bus: its console ended with whole lines
// (standard error only when it is no terminal, where the progress bar is
// erased without one) and no device handle is left open.
void CheckConsoleAndHandles(const RunResult& run);

// A broken rule: says which on the real standard error and traps, so that
// libFuzzer reports the input as a crash.
[[noreturn]] void Violation(const std::string& what);

}  // namespace fuzz
