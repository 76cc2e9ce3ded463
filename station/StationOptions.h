// The station's command line:
//   quorl-station [--all | --port PORT... | --serial SERIAL... | --slot LABEL...]
//                 [--bench FILE] [--continuous [--removal-grace SECONDS]]
//                 [--serials FIRST | --serials-from FILE] [--jobs N]
//                 [--log FILE] [--json | --events] [--dashboard [ADDRESS:]PORT]
//                 [--no-serial-check] [--edition standard|compact] -- WORDS...
//   quorl-station --learn-bench FILE --slots LABEL... [--columns N] [--name TEXT]
// WORDS are the tool's own command words, as QuorlFirmwareUpdateApp takes
// them. The station also starts itself as a worker for one unit, with
// options a user never types (not shown by --help).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/Edition.h"

struct StationOptions {
    enum class Selection { Default, All, Ports, Serials, Slots };
    Selection selection = Selection::Default;
    std::vector<std::string> ports;    // --port
    std::vector<std::string> serials;  // --serial
    std::vector<std::string> slots;    // --slot (labels of the bench map)

    // The bench map: slot labels in place of ports, rows in the map's order.
    std::optional<std::string> benchPath;
    // Stays up and runs the command on each unit that arrives.
    bool continuous = false;
    // How long a slot's port must show no device before the slot is empty.
    std::chrono::milliseconds removalGrace{3000};
    // Where each unit's serial number for "-S {serial}" comes from.
    std::optional<std::string> serialsFirst;  // --serials
    std::optional<std::string> serialsFrom;   // --serials-from
    // One JSON object a line on standard output for everything that happens.
    bool events = false;
    // The live page: "[ADDRESS:]PORT".
    std::optional<std::string> dashboard;

    // Learning a bench map instead of running a command.
    std::optional<std::string> learnBenchPath;
    std::vector<std::string> learnSlots;
    int columns = 0;
    std::string benchName;

    int jobs = 8;
    std::optional<std::string> logPath;
    bool json = false;
    // A unit's serial number is not compared across its restarts.
    bool noSerialCheck = false;
    Edition edition = Edition::Standard;
    std::vector<std::string> words;  // the tool's command, after "--"

    // A worker: the unit it serves.
    bool worker = false;
    std::string unitPort;
    std::string unitSerial;
    // The SHA-256 of each image as the station read it at its start: the
    // worker writes nothing when the file's bytes differ now.
    std::vector<std::string> imageSha256;
};

// What the command line asks for: the options, or the exit status and the
// text to print (--help: the help on standard output and 0; a usage error:
// the reason on standard error and 2).
struct ParsedStationLine {
    std::optional<StationOptions> options;
    int status = 0;
    std::string text;
};

ParsedStationLine ParseStationLine(const std::vector<std::string>& arguments);

// The words that start a worker for one unit: the inverse of the parse.
// words: the tool's command for this unit (its own serial number in place
// of "{serial}").
std::vector<std::string> WorkerArguments(const StationOptions& options,
                                         const std::vector<std::string>& words,
                                         const std::string& port, const std::string& serial,
                                         const std::vector<std::string>& imageSha256);
