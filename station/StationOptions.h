// The station's command line:
//   quorl-station [--all | --port PORT... | --serial SERIAL...] [--jobs N]
//                 [--log FILE] [--json] [--no-serial-check]
//                 [--edition standard|compact] -- WORDS...
// WORDS are the tool's own command words, as QuorlFirmwareUpdateApp takes
// them. The station also starts itself as a worker for one unit, with
// options a user never types (not shown by --help).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Edition.h"

struct StationOptions {
    enum class Selection { Default, All, Ports, Serials };
    Selection selection = Selection::Default;
    std::vector<std::string> ports;    // --port
    std::vector<std::string> serials;  // --serial
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
std::vector<std::string> WorkerArguments(const StationOptions& options, const std::string& port,
                                         const std::string& serial,
                                         const std::vector<std::string>& imageSha256);
