// One unit's run on a station: its worker, what the worker said, and how it
// ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/process/WorkerProcess.h"
#include "station/Units.h"

struct UnitLine {
    enum class Stream { Output, Error, Worker };  // the command's two streams; the worker's own errors
    Stream stream;
    std::string text;
};

struct UnitRun {
    enum class State { Waiting, Running, Ended };

    BenchUnit unit;
    std::string slot;  // its slot's label on a bench map; empty without one
    // The tool's words for this unit, and the serial number the station
    // gave it for "-S {serial}" (empty when none).
    std::vector<std::string> words;
    std::string serialGiven;
    State state = State::Waiting;
    // A slot's row when no unit runs in it: "empty", "not served: ...".
    std::string idleText;
    std::chrono::system_clock::time_point startedAt{};
    std::chrono::system_clock::time_point endedAt{};
    std::chrono::steady_clock::time_point startedClock{};
    std::chrono::steady_clock::time_point lastHeard{};
    std::chrono::steady_clock::time_point endedClock{};

    std::string phase;  // the command's latest line
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::vector<UnitLine> lines;
    nlohmann::json facts = nlohmann::json::object();

    bool ran = false;  // its worker was started
    std::optional<int> exitStatus;
    bool succeeded = false;
    std::string outcome;  // "succeeded", "failed" or "not started"
    std::string reason;   // why it did not succeed

    std::unique_ptr<platform::WorkerProcess> worker;
    int openStreams = 0;
    std::string killedBecause;  // the station ended the worker, and why

    double ElapsedSeconds() const;
    // How the unit is named on screen and in events: its slot, or its port.
    const std::string& Name() const { return slot.empty() ? unit.port : slot; }
};
