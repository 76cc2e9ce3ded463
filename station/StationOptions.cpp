#include "station/StationOptions.h"

#include <algorithm>

#include <CLI/CLI.hpp>

namespace {

constexpr int kMostJobs = 64;
// As many ports or serial numbers as anyone could name.
constexpr int kMostNamed = 1 << 16;
constexpr const char* kWorkerFlag = "--worker";

std::string EditionName(Edition edition) { return edition == Edition::Compact ? "compact" : "standard"; }

// The usage line names the tool's words after "--", which CLI11 does not see.
class StationFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string name) const override {
        return "Usage: " + name + " [OPTIONS] -- WORDS...\n";
    }
};

}  // namespace

ParsedStationLine ParseStationLine(const std::vector<std::string>& arguments) {
    ParsedStationLine parsed;
    // The tool's words follow "--" and are never read as the station's
    // options: "-s", "-b" and the rest belong to the tool.
    const auto separator = std::find(arguments.begin() + (arguments.empty() ? 0 : 1),
                                     arguments.end(), std::string("--"));
    std::vector<std::string> ownWords(arguments.begin(), separator);

    StationOptions options;
    CLI::App app{"Runs one command of QuorlFirmwareUpdateApp on several units at once, each "
                 "followed by its USB port, with one record per unit.\n"
                 "quorl-station [--all | --port PORT... | --serial SERIAL...] [--jobs N] "
                 "[--log FILE] [--json] [--no-serial-check] [--edition standard|compact] -- "
                 "WORDS...",
                 "quorl-station"};
    app.formatter(std::make_shared<StationFormatter>());
    app.set_version_flag("--version", "quorl-station " QUORL_VERSION);
    app.footer("WORDS: the tool's command, as QuorlFirmwareUpdateApp takes it (an image file, "
               "-b, -R, -S SERIAL, -s ...).\nExit status: 0 when every unit succeeded, 1 when any "
               "failed, 2 on a usage error or an ambiguous selection.");
    bool everyUnit = false;
    auto* all = app.add_flag("--all", everyUnit, "every unit that the command serves");
    auto* ports = app.add_option("--port", options.ports, "the units at these USB ports")
                      ->expected(1, kMostNamed)
                      ->type_name("PORT...");
    auto* serials = app.add_option("--serial", options.serials,
                                   "the units with these serial numbers (followed by their port)")
                        ->expected(1, kMostNamed)
                        ->type_name("SERIAL...");
    all->excludes(ports)->excludes(serials);
    ports->excludes(serials);
    app.add_option("--jobs", options.jobs, "units at a time (default 8)")
        ->check(CLI::Range(1, kMostJobs))
        ->type_name("N");
    app.add_option("--log", options.logPath, "append one JSON line per unit to FILE")
        ->type_name("FILE");
    app.add_flag("--json", options.json, "one JSON object per unit on standard output");
    app.add_flag("--no-serial-check", options.noSerialCheck,
                 "go on when a unit shows another serial number at its port after a restart "
                 "(for units that report another serial number in their bootloader); every "
                 "serial number seen is still recorded");
    std::string edition = "standard";
    app.add_option("--edition", edition, "the tool's edition: standard (default) or compact")
        ->check(CLI::IsMember({"standard", "compact"}))
        ->type_name("EDITION");
    app.add_flag(kWorkerFlag, options.worker)->group("");
    app.add_option("--unit-port", options.unitPort)->group("");
    app.add_option("--unit-serial", options.unitSerial)->group("");
    app.add_option("--image-sha256", options.imageSha256)->group("")->expected(0, kMostNamed);

    std::vector<std::string> reversed(ownWords.rbegin(), ownWords.rend());
    if (!reversed.empty()) {
        reversed.pop_back();  // the program's path
    }
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.text = app.help();
        return parsed;
    } catch (const CLI::CallForVersion&) {
        parsed.text = "quorl-station " QUORL_VERSION;
        return parsed;
    } catch (const CLI::ParseError& error) {
        parsed.status = 2;
        parsed.text = std::string("quorl-station: ") + error.what();
        return parsed;
    }
    if (separator == arguments.end() || separator + 1 == arguments.end()) {
        parsed.status = 2;
        parsed.text = "quorl-station: the tool's command follows \"--\", such as: quorl-station "
                      "--all -- controller_firmware.bin (--help tells more)";
        return parsed;
    }
    options.words.assign(separator + 1, arguments.end());
    options.edition = edition == "compact" ? Edition::Compact : Edition::Standard;
    if (everyUnit) {
        options.selection = StationOptions::Selection::All;
    } else if (ports->count() > 0) {
        options.selection = StationOptions::Selection::Ports;
    } else if (serials->count() > 0) {
        options.selection = StationOptions::Selection::Serials;
    }
    if (options.worker && options.unitPort.empty()) {
        parsed.status = 2;
        parsed.text = "quorl-station: a worker needs its unit's port";
        return parsed;
    }
    parsed.options = std::move(options);
    return parsed;
}

std::vector<std::string> WorkerArguments(const StationOptions& options, const std::string& port,
                                         const std::string& serial,
                                         const std::vector<std::string>& imageSha256) {
    // Values joined to their option, so that none is taken for an option.
    std::vector<std::string> words = {kWorkerFlag, "--edition=" + EditionName(options.edition),
                                      "--unit-port=" + port};
    if (!serial.empty()) {
        words.push_back("--unit-serial=" + serial);
    }
    if (options.noSerialCheck) {
        words.push_back("--no-serial-check");
    }
    for (const std::string& sha256 : imageSha256) {
        words.push_back("--image-sha256=" + sha256);
    }
    words.push_back("--");
    words.insert(words.end(), options.words.begin(), options.words.end());
    return words;
}
