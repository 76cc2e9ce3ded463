#include "station/StationOptions.h"

#include <algorithm>

#include <CLI/CLI.hpp>

namespace {

constexpr int kMostJobs = 64;
// As many ports or serial numbers as anyone could name.
constexpr int kMostNamed = 1 << 16;
constexpr const char* kWorkerFlag = "--worker";

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
                 "On a bench, --bench names its slots and --continuous runs the command on "
                 "each unit plugged into a slot, all shift long.",
                 "quorl-station"};
    app.formatter(std::make_shared<StationFormatter>());
    app.set_version_flag("--version", "quorl-station " QUORL_VERSION);
    app.footer("WORDS: the tool's command, as QuorlFirmwareUpdateApp takes it (an image file, "
               "-b, -R, -S SERIAL, -s ...); -S {serial} takes each unit's own from --serials or "
               "--serials-from.\nExit status: 0 when every unit succeeded, 1 when any "
               "failed, 2 on a usage error or an ambiguous selection; a continuous station, once "
               "stopped, 0 when every record was written, 1 when one could not be.\n"
               "quorl-station --learn-bench FILE --slots LABEL... writes a bench map.");
    bool everyUnit = false;
    auto* all = app.add_flag("--all", everyUnit, "every unit that the command serves");
    auto* ports = app.add_option("--port", options.ports, "the units at these USB ports")
                      ->expected(1, kMostNamed)
                      ->type_name("PORT...");
    auto* serials = app.add_option("--serial", options.serials,
                                   "the units with these serial numbers (followed by their port)")
                        ->expected(1, kMostNamed)
                        ->type_name("SERIAL...");
    auto* slots = app.add_option("--slot", options.slots,
                                 "the units in these slots of the bench map (--bench)")
                      ->expected(1, kMostNamed)
                      ->type_name("LABEL...");
    all->excludes(ports)->excludes(serials)->excludes(slots);
    ports->excludes(serials)->excludes(slots);
    serials->excludes(slots);
    auto* bench = app.add_option("--bench", options.benchPath,
                                 "the bench map (TOML): each slot's label and USB port")
                      ->type_name("FILE");
    auto* continuous = app.add_flag(
        "--continuous", options.continuous,
        "stay up and run the command once on each unit that arrives (in a slot of the "
        "bench map, or at any port without one) until Ctrl+C");
    continuous->excludes(ports)->excludes(serials);
    double graceSeconds = 3.0;
    auto* grace = app.add_option("--removal-grace", graceSeconds,
                                 "seconds a slot's port must show no device before the unit "
                                 "counts as removed (default 3)")
                      ->check(CLI::Range(0.0, 600.0))
                      ->type_name("SECONDS");
    grace->needs(continuous);
    auto* counting = app.add_option("--serials", options.serialsFirst,
                                    "give each unit its own serial number for -S {serial}, "
                                    "counting up from FIRST (QC7F1000, QC7F1001, ...)")
                         ->type_name("FIRST");
    auto* listed = app.add_option("--serials-from", options.serialsFrom,
                                  "give each unit its own serial number for -S {serial}, in "
                                  "the order of FILE (one a line)")
                       ->type_name("FILE");
    counting->excludes(listed);
    app.add_option("--jobs", options.jobs, "units at a time (default 8)")
        ->check(CLI::Range(1, kMostJobs))
        ->type_name("N");
    app.add_option("--log", options.logPath, "append one JSON line per unit to FILE")
        ->type_name("FILE");
    auto* json = app.add_flag("--json", options.json, "one JSON object per unit on standard output");
    app.add_flag("--events", options.events,
                 "one JSON object a line on standard output for everything that happens: "
                 "arrived, started, line, progress, ended, removed, counters, notice")
        ->excludes(json);
    app.add_option("--dashboard", options.dashboard,
                   "serve a live read-only page of the bench at http://ADDRESS:PORT/ "
                   "(127.0.0.1 unless an address is named)")
        ->type_name("[ADDRESS:]PORT");
    auto* learn = app.add_option("--learn-bench", options.learnBenchPath,
                                 "write a bench map to FILE: plug a unit into each slot of "
                                 "--slots in turn, and the station notes its port")
                      ->type_name("FILE");
    auto* learnSlots = app.add_option("--slots", options.learnSlots,
                                      "the labels of the slots to learn, in the fixture's order")
                           ->expected(1, kMostNamed)
                           ->type_name("LABEL...");
    auto* columns = app.add_option("--columns", options.columns,
                                   "slots a row on the fixture (--learn-bench)")
                        ->check(CLI::Range(1, 16))
                        ->type_name("N");
    auto* name = app.add_option("--name", options.benchName, "the bench's name (--learn-bench)")
                     ->type_name("TEXT");
    learn->needs(learnSlots);
    learnSlots->needs(learn);
    columns->needs(learn);
    name->needs(learn);
    for (CLI::Option* option : {all, ports, serials, slots, bench, continuous, counting, listed, json}) {
        learn->excludes(option);
    }
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
    options.removalGrace = std::chrono::milliseconds(static_cast<long long>(graceSeconds * 1000.0 + 0.5));
    if (options.learnBenchPath) {
        if (separator != arguments.end()) {
            parsed.status = 2;
            parsed.text = "quorl-station: --learn-bench runs no command: leave out \"--\" and the words after it";
            return parsed;
        }
        parsed.options = std::move(options);
        return parsed;
    }
    if (slots->count() > 0 && !options.benchPath) {
        parsed.status = 2;
        parsed.text = "quorl-station: --slot names slots of a bench map: name the map with --bench FILE";
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
    } else if (slots->count() > 0) {
        options.selection = StationOptions::Selection::Slots;
    }
    if (options.worker && options.unitPort.empty()) {
        parsed.status = 2;
        parsed.text = "quorl-station: a worker needs its unit's port";
        return parsed;
    }
    parsed.options = std::move(options);
    return parsed;
}

std::vector<std::string> WorkerArguments(const StationOptions& options,
                                         const std::vector<std::string>& commandWords,
                                         const std::string& port, const std::string& serial,
                                         const std::vector<std::string>& imageSha256) {
    // Values joined to their option, so that none is taken for an option.
    std::vector<std::string> words = {kWorkerFlag,
                                      std::string("--edition=") + EditionName(options.edition),
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
    words.insert(words.end(), commandWords.begin(), commandWords.end());
    return words;
}
