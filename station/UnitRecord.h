// The record of one unit's run: what a station keeps of it in its log and
// prints with --json. One JSON object a unit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/CommandLine.h"
#include "station/StationOptions.h"
#include "station/UnitRun.h"
#include "station/Units.h"

// An image file the command takes, as it was when the station started:
// which bytes every unit was given.
// Keys in the order they are written, so that a person reading the log
// finds the unit's port and times first.
using Record = nlohmann::ordered_json;

struct ImageFacts {
    std::string path;
    std::uint64_t size = 0;
    std::string checksum128;  // the tool's image checksum, as -c prints it
    std::string sha256;
};

// The image files the command reads, in the order it names them.
std::vector<std::string> ImagePathsOf(const Invocation& invocation);

// The images of the command; nothing, with the path in unreadable, when one
// cannot be read.
std::optional<std::vector<ImageFacts>> ImagesOf(const Invocation& invocation,
                                                std::string& unreadable);

// What stays the same for every unit of one run.
struct RunContext {
    std::string runId;
    std::string host;
    Edition edition = Edition::Standard;
    std::vector<std::string> words;
    std::vector<ImageFacts> images;
    std::string benchName;  // the bench map's name, when there is one
};

Record UnitRecord(const UnitRun& run, const RunContext& context);

// The record of the run itself, written before its units': what was asked,
// which units were selected, and which were left out and why.
Record RunRecord(const RunContext& context, const StationOptions& options,
                 const Selection& selection);

// The record as one line of text: strings that are not UTF-8 (a path in
// another encoding) have their bad bytes replaced, never refused.
std::string RecordLine(const Record& record);
