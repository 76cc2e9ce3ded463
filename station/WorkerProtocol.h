// What a worker tells its station, one event a line on the worker's standard
// output. The command's own lines travel whole and unchanged:
//   "O text"         a line the command wrote to standard output
//   "E text"         a line the command wrote to standard error
//   "A"              a mark on a line not yet ended ("."): the unit is alive
//   "P done total"   bytes of image data transferred so far, of the total
//   "U json"         what the worker saw of its unit, once, at the end
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct WorkerEvent {
    enum class Kind { Output, Error, Activity, Progress, Facts };
    Kind kind = Kind::Output;
    std::string text;  // the line, or the facts
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

// The event as one line, without its line end.
std::string EncodeEvent(const WorkerEvent& event);

// A line a worker wrote (a trailing carriage return, which Windows' text
// mode adds, is dropped); nothing when it is no event.
std::optional<WorkerEvent> DecodeEvent(std::string_view line);
