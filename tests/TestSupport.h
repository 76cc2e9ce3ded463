// What every test needs: a fresh simulated bus, the tool run in-process with
// its streams captured, and image files made on the fly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/Edition.h"
#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "sim/SimWorld.h"

struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
    std::vector<std::string> OutLines() const;
    std::vector<std::string> ErrLines() const;
};

// Runs the tool as "QuorlFirmwareUpdateApp args..." with captured streams.
RunResult RunTool(const std::vector<std::string>& args, Edition edition = Edition::Standard);

// Runs a program's entry with words as its command line (program name
// first), with captured streams.
using ProgramEntry = std::function<int(int argc, const char* const* argv)>;
RunResult RunCaptured(const std::vector<std::string>& words, const ProgramEntry& program);

std::vector<std::string> Lines(const std::string& text);

// A temporary file, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::vector<std::uint8_t>& content, const std::string& nameSuffix = ".bin");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path; }

private:
    std::string path;
};

// Deterministic bytes that differ from position to position.
std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed = 1);

sim::Bytes HexBytes(const std::string& hex);

// Every test starts on an empty bus at virtual time 0.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::World::Get().Reset(); }
    void TearDown() override { sim::World::Get().Reset(); }
    sim::World& world = sim::World::Get();
};
