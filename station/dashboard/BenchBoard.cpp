#include "station/dashboard/BenchBoard.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace quorl::dashboard {

namespace {

using nlohmann::json;

constexpr std::size_t kShortShaDigits = 12;

std::optional<std::string> TextField(const json& event, const char* key) {
    const auto found = event.find(key);
    if (found == event.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<double> NumberField(const json& event, const char* key) {
    const auto found = event.find(key);
    if (found == event.end() || !found->is_number()) {
        return std::nullopt;
    }
    const double value = found->get<double>();
    if (!std::isfinite(value) || value < 0) {
        return std::nullopt;
    }
    return value;
}

void SetIfGiven(std::string& target, const json& event, const char* key) {
    if (auto text = TextField(event, key)) {
        target = std::move(*text);
    }
}

}  // namespace

BenchBoard::BenchBoard(BenchSetup setup) : setup_(std::move(setup)) {
    setup_.columns = std::max(1, setup_.columns);
    for (const auto& label : setup_.slots) {
        Tile tile;
        tile.slot = label;
        tiles_.push_back(std::move(tile));
    }
}

json BenchBoard::TileJson(const Tile& tile) const {
    json result = nullptr;
    if (!tile.result.empty()) {
        result = tile.result;
    }
    json percent = nullptr;
    if (tile.percent >= 0) {
        percent = tile.percent;
    }
    return {{"slot", tile.slot},       {"serial", tile.serial},
            {"phase", tile.phase},     {"line", tile.line},
            {"percent", percent},      {"elapsed_s", tile.elapsedSeconds},
            {"result", result},        {"reason", tile.reason},
            {"release_before", tile.releaseBefore},
            {"release_after", tile.releaseAfter}};
}

json BenchBoard::CountersJson() const {
    const long long judged = passed_ + failed_;
    json yield = nullptr;
    if (judged > 0) {
        // Percent with one decimal: 7 of 8 is 87.5.
        yield = std::round(1000.0 * static_cast<double>(passed_) / static_cast<double>(judged)) / 10.0;
    }
    return {{"passed", passed_}, {"failed", failed_}, {"units_per_hour", unitsPerHour_},
            {"yield", yield}};
}

json BenchBoard::NoticesJson() const {
    return json(notices_);
}

json BenchBoard::Snapshot() const {
    std::lock_guard lock(mutex_);
    json images = json::array();
    for (const auto& image : setup_.images) {
        images.push_back({{"file", image.file}, {"sha256", image.sha256.substr(0, kShortShaDigits)}});
    }
    json tiles = json::array();
    for (const auto& tile : tiles_) {
        tiles.push_back(TileJson(tile));
    }
    json records = json(shown_);
    return {{"bench",
             {{"name", setup_.name},
              {"command", setup_.command},
              {"images", images},
              {"version", setup_.version},
              {"columns", setup_.columns}}},
            {"counters", CountersJson()},
            {"tiles", tiles},
            {"records", records},
            {"records_shown", kRecordsShown},
            {"notices", NoticesJson()}};
}

BenchBoard::Tile* BenchBoard::FindTile(const json& event) {
    const auto slot = TextField(event, "slot");
    if (!slot) {
        return nullptr;
    }
    const auto found = std::find_if(tiles_.begin(), tiles_.end(),
                                    [&](const Tile& tile) { return tile.slot == *slot; });
    return found == tiles_.end() ? nullptr : &*found;
}

json BenchBoard::Apply(const json& event) {
    if (!event.is_object()) {
        return nullptr;
    }
    const auto kind = TextField(event, "event");
    if (!kind) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (*kind == "counters") {
        return ApplyCounters(event);
    }
    if (*kind == "notice") {
        return ApplyNotice(event);
    }
    Tile* tile = FindTile(event);
    if (tile == nullptr) {
        return nullptr;
    }
    return ApplyToTile(*kind, event, *tile);
}

json BenchBoard::ApplyToTile(const std::string& kind, const json& event, Tile& tile) {
    json change = json::object();
    if (kind == "arrived" || kind == "removed") {
        // A new unit, or none: nothing of the previous one stays on the tile.
        Tile fresh;
        fresh.slot = tile.slot;
        if (kind == "arrived") {
            // A unit the command does not serve stays in its slot, untouched.
            const auto served = event.find("served");
            const bool notServed = served != event.end() && served->is_boolean() && !served->get<bool>();
            fresh.phase = notServed ? "not served" : "arrived";
            SetIfGiven(fresh.serial, event, "serial");
            SetIfGiven(fresh.releaseBefore, event, "release");
            if (notServed) {
                SetIfGiven(fresh.reason, event, "reason");
            }
        }
        tile = std::move(fresh);
    } else if (kind == "started") {
        tile.phase = "running";
        tile.percent = 0;
        tile.elapsedSeconds = 0;
        tile.line.clear();
        tile.result.clear();
        tile.reason.clear();
        tile.releaseAfter.clear();
        SetIfGiven(tile.serial, event, "serial");
        SetIfGiven(tile.phase, event, "phase");
    } else if (kind == "line" || kind == "progress") {
        if (kind == "line") {
            const auto text = TextField(event, "text");
            if (!text) {
                return nullptr;
            }
            tile.line = *text;
        } else {
            const auto percent = NumberField(event, "percent");
            if (!percent) {
                return nullptr;
            }
            tile.percent = static_cast<int>(std::min(100.0, *percent));
        }
        SetIfGiven(tile.phase, event, "phase");
        if (auto elapsed = NumberField(event, "elapsed_s")) {
            tile.elapsedSeconds = *elapsed;
        }
    } else if (kind == "ended") {
        const auto result = TextField(event, "result");
        if (!result || (*result != "PASS" && *result != "FAIL")) {
            return nullptr;
        }
        tile.result = *result;
        tile.phase = "done";
        tile.reason = TextField(event, "reason").value_or("");
        SetIfGiven(tile.releaseAfter, event, "release");
        if (auto elapsed = NumberField(event, "elapsed_s")) {
            tile.elapsedSeconds = *elapsed;
        }
        if (tile.result == "PASS") {
            tile.percent = 100;
            ++passed_;
        } else {
            ++failed_;
        }
        // The page lists what a person reads of a unit; the whole record
        // (the command's every line) is the log's, and /records.jsonl's.
        json shown = json{{"slot", tile.slot},
                          {"serial", tile.serial},
                          {"result", tile.result},
                          {"reason", tile.reason},
                          {"release_before", tile.releaseBefore},
                          {"release_after", tile.releaseAfter},
                          {"elapsed_s", tile.elapsedSeconds}};
        const auto given = event.find("record");
        records_.push_back(given != event.end() && given->is_object() ? given->dump() : shown.dump());
        if (records_.size() > kRecordsKept) {
            records_.pop_front();
        }
        shown_.push_back(shown);
        if (shown_.size() > kRecordsShown) {
            shown_.pop_front();
        }
        change["record"] = std::move(shown);
        change["counters"] = CountersJson();
    } else {
        return nullptr;
    }
    change["tile"] = TileJson(tile);
    return change;
}

json BenchBoard::ApplyCounters(const json& event) {
    if (auto perHour = NumberField(event, "units_per_hour")) {
        unitsPerHour_ = *perHour;
    }
    if (auto passed = NumberField(event, "passed")) {
        passed_ = static_cast<long long>(*passed);
    }
    if (auto failed = NumberField(event, "failed")) {
        failed_ = static_cast<long long>(*failed);
    }
    return {{"counters", CountersJson()}};
}

json BenchBoard::ApplyNotice(const json& event) {
    const auto text = TextField(event, "text");
    if (!text) {
        return nullptr;
    }
    auto level = TextField(event, "level").value_or("info");
    if (level != "warning" && level != "error") {
        level = "info";
    }
    notices_.push_back({{"level", level}, {"text", *text}});
    if (notices_.size() > kNoticesKept) {
        notices_.erase(notices_.begin());
    }
    return {{"notices", NoticesJson()}};
}

void BenchBoard::SetRecordsSource(std::function<std::string()> source) {
    std::lock_guard lock(mutex_);
    recordsSource_ = std::move(source);
}

std::string BenchBoard::RecordsJsonLines() const {
    std::function<std::string()> source;
    {
        std::lock_guard lock(mutex_);
        source = recordsSource_;
    }
    if (source) {
        return source();
    }
    std::lock_guard lock(mutex_);
    std::string lines;
    for (const auto& record : records_) {
        lines += record;
        lines += '\n';
    }
    return lines;
}

}  // namespace quorl::dashboard
