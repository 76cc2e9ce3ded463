#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorl::dashboard {

// An image the bench writes, as the page names it.
struct BenchImage {
    std::string file;    // the file name, without its folder
    std::string sha256;  // 64 hex digits; the page shows the first 12
};

// What the bench is, known before any unit arrives: the page's header and the
// slots' grid, as the bench map lays them out row by row.
struct BenchSetup {
    std::string name;
    std::vector<std::string> command;  // the tool's command words, as run on each unit
    std::vector<BenchImage> images;
    std::string version;               // the station's release
    int columns = 1;
    std::vector<std::string> slots;    // slot labels, row by row
};

// The state the page shows, fed by the station's events (one JSON object
// each) and read by the HTTP threads. Every member locks: the station's
// thread applies while the server's threads take snapshots.
//
// Events, by their "event" field:
//   arrived  {slot, serial?, release?}        a unit is in the slot
//   started  {slot, serial?, phase?}          its command began
//   line     {slot, text, phase?, elapsed_s?} the latest line of its output
//   progress {slot, percent, phase?, elapsed_s?}
//   ended    {slot, result: "PASS"|"FAIL", reason?, release?, elapsed_s?, record?}
//   removed  {slot}                           the slot is empty again
//   counters {units_per_hour?, passed?, failed?}
//   notice   {text, level?: "info"|"warning"|"error"}
class BenchBoard {
public:
    static constexpr std::size_t kRecordsShown = 50;
    // Whole records kept for /records.jsonl when no log serves them.
    static constexpr std::size_t kRecordsKept = 200;
    static constexpr std::size_t kNoticesKept = 20;

    explicit BenchBoard(BenchSetup setup);

    // The whole state, as GET /state serves it and the page's first message.
    nlohmann::json Snapshot() const;

    // Applies one event; returns the change to send to the pages (an object
    // with any of "tile", "counters", "record", "notices"), or null when the
    // event changes nothing (unknown kind or slot, malformed fields).
    nlohmann::json Apply(const nlohmann::json& event);

    // The records of this run, one JSON object a line: from the source when
    // one is set (the station's log, read on request), or the latest
    // kRecordsKept that the ended events carried.
    std::string RecordsJsonLines() const;
    // Called on an HTTP thread, never under the board's lock.
    void SetRecordsSource(std::function<std::string()> source);

private:
    struct Tile {
        std::string slot;
        std::string serial;
        std::string phase = "empty";
        std::string line;
        int percent = -1;  // -1: no progress known
        double elapsedSeconds = 0;
        std::string result;  // "", "PASS" or "FAIL"
        std::string reason;
        std::string releaseBefore;
        std::string releaseAfter;
    };

    nlohmann::json TileJson(const Tile& tile) const;
    nlohmann::json CountersJson() const;
    nlohmann::json NoticesJson() const;
    Tile* FindTile(const nlohmann::json& event);
    nlohmann::json ApplyToTile(const std::string& kind, const nlohmann::json& event, Tile& tile);
    nlohmann::json ApplyCounters(const nlohmann::json& event);
    nlohmann::json ApplyNotice(const nlohmann::json& event);

    mutable std::mutex mutex_;
    BenchSetup setup_;
    std::vector<Tile> tiles_;
    long long passed_ = 0;
    long long failed_ = 0;
    double unitsPerHour_ = 0;
    std::deque<std::string> records_;  // each a dumped JSON object
    std::deque<nlohmann::json> shown_;  // what the page lists of the latest units
    std::function<std::string()> recordsSource_;
    std::vector<nlohmann::json> notices_;
};

}  // namespace quorl::dashboard
