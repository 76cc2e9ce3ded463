#include "station/UnitRecord.h"

#include <array>
#include <ctime>

#include "app/ImageProfile.h"
#include "devices/ListingText.h"
#include "image/ChecksumText.h"
#include "image/ImageFile.h"
#include "platform/files/Sha256.h"

namespace {

std::string Utc(std::chrono::system_clock::time_point time) {
    if (time == std::chrono::system_clock::time_point{}) {
        return {};
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                            time.time_since_epoch()).count() % 1000;
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
    return text;
}

Record TimeOrNull(std::chrono::system_clock::time_point time) {
    const std::string text = Utc(time);
    return text.empty() ? Record(nullptr) : Record(text);
}

template <class Value>
void AddOnce(Record& list, const Value& value) {
    for (const auto& item : list) {
        if (item == value) {
            return;
        }
    }
    list.push_back(value);
}

const char* StreamName(UnitLine::Stream stream) {
    switch (stream) {
        case UnitLine::Stream::Output:
            return "stdout";
        case UnitLine::Stream::Error:
            return "stderr";
        case UnitLine::Stream::Worker:
            break;
    }
    return "worker";
}

// What every record of a run begins with.
Record RecordOf(const char* kind, const RunContext& context) {
    Record record;
    record["kind"] = kind;
    record["runId"] = context.runId;
    record["stationVersion"] = QUORL_VERSION;
    return record;
}

Record ImagesRecord(const RunContext& context) {
    Record images = Record::array();
    for (const ImageFacts& image : context.images) {
        images.push_back({{"path", image.path},
                          {"size", image.size},
                          {"checksum128", image.checksum128},
                          {"sha256", image.sha256}});
    }
    return images;
}

const char* SelectionText(StationOptions::Selection selection) {
    switch (selection) {
        case StationOptions::Selection::All:
            return "all";
        case StationOptions::Selection::Ports:
            return "ports";
        case StationOptions::Selection::Serials:
            return "serials";
        case StationOptions::Selection::Slots:
            return "slots";
        case StationOptions::Selection::Default:
            break;
    }
    return "the one unit";
}

}  // namespace

std::vector<std::string> ImagePathsOf(const Invocation& invocation) {
    std::vector<std::string> paths;
    switch (invocation.kind) {
        case CommandKind::SwdReflash:
            if (invocation.softDevice) {
                paths.push_back(*invocation.softDevice);
            }
            paths.push_back(invocation.path);
            break;
        case CommandKind::ControllerUpdate:
        case CommandKind::RadioUpdate:
        case CommandKind::TivaneUpdate:
        case CommandKind::DongleUpgrade:
            paths.push_back(invocation.path);
            break;
        default:
            break;
    }
    return paths;
}

std::optional<std::vector<ImageFacts>> ImagesOf(const Invocation& invocation,
                                                std::string& unreadable) {
    std::vector<ImageFacts> images;
    for (const std::string& path : ImagePathsOf(invocation)) {
        ImageFacts facts;
        facts.path = path;
        const ImageFile file = OpenImageFile(path);
        const std::optional<std::uint64_t> size = file ? ImageFileSize(file.get()) : std::nullopt;
        const std::optional<std::string> sha256 = size ? platform::Sha256OfFile(path) : std::nullopt;
        std::array<std::uint8_t, 16> checksum{};
        if (!sha256 || ComputeReleaseChecksum(path, checksum.data()) != 0) {
            unreadable = path;
            return std::nullopt;
        }
        facts.size = *size;
        facts.sha256 = *sha256;
        facts.checksum128 = ChecksumDigits(checksum.data());
        images.push_back(std::move(facts));
    }
    return images;
}

Record RunRecord(const RunContext& context, const StationOptions& options,
                 const Selection& selection) {
    Record record = RecordOf("run", context);
    record["started"] = TimeOrNull(std::chrono::system_clock::now());
    record["host"] = context.host;
    record["edition"] = EditionName(context.edition);
    record["words"] = context.words;
    record["images"] = ImagesRecord(context);
    Record chosen;
    chosen["by"] = SelectionText(options.selection);
    if (options.selection == StationOptions::Selection::Ports) {
        chosen["named"] = options.ports;
    } else if (options.selection == StationOptions::Selection::Serials) {
        chosen["named"] = options.serials;
    } else if (options.selection == StationOptions::Selection::Slots) {
        chosen["named"] = options.slots;
    }
    Record ports = Record::array();
    for (const BenchUnit& unit : selection.units) {
        ports.push_back(unit.port);
    }
    chosen["ports"] = ports;
    record["selection"] = chosen;
    record["leftOut"] = selection.leftOut;
    record["serialCheck"] = !options.noSerialCheck;
    if (options.benchPath) {
        record["bench"] = {{"file", *options.benchPath}, {"name", context.benchName}};
    }
    record["continuous"] = options.continuous;
    if (options.serialsFirst) {
        record["serials"] = {{"countingFrom", *options.serialsFirst}};
    } else if (options.serialsFrom) {
        record["serials"] = {{"from", *options.serialsFrom}};
    }
    return record;
}

Record UnitRecord(const UnitRun& run, const RunContext& context) {
    Record record = RecordOf("unit", context);
    record["started"] = TimeOrNull(run.startedAt);
    record["ended"] = TimeOrNull(run.endedAt);
    record["host"] = context.host;
    record["port"] = run.unit.port;
    if (!run.slot.empty()) {
        record["slot"] = run.slot;
    }

    Record serials = Record::array();
    Record productIds = Record::array();
    Record releaseBefore = nullptr;
    for (const ListedDevice& device : run.unit.devices) {
        if (!device.serialNumber.empty()) {
            AddOnce(serials, device.serialNumber);
        }
        AddOnce(productIds, UsbIdText(device.productId));
        if (releaseBefore.is_null()) {
            releaseBefore = ReleaseText(device.release);
        }
    }
    for (const auto& serial : run.facts.value("serialsSeen", nlohmann::json::array())) {
        if (serial.is_string() && !serial.get<std::string>().empty()) {
            AddOnce(serials, serial.get<std::string>());
        }
    }
    for (const auto& id : run.facts.value("productIdsSeen", nlohmann::json::array())) {
        if (id.is_number_unsigned()) {
            AddOnce(productIds, UsbIdText(id.get<std::uint16_t>()));
        }
    }
    Record releaseAfter = nullptr;
    Record productAfter = nullptr;
    if (run.facts.contains("productIdAfter")) {
        productAfter = UsbIdText(run.facts["productIdAfter"].get<std::uint16_t>());
        AddOnce(productIds, productAfter);
        releaseAfter = ReleaseText(run.facts["releaseAfter"].get<std::uint16_t>());
        const std::string serialAfter = run.facts.value("serialAfter", std::string());
        if (!serialAfter.empty()) {
            AddOnce(serials, serialAfter);
        }
    }
    record["serialsSeen"] = serials;
    record["productIdsSeen"] = productIds;
    record["releaseBefore"] = releaseBefore;
    record["releaseAfter"] = releaseAfter;
    // What the unit shows as at its port after the command: its application
    // again after an update, its bootloader after -b.
    record["productIdAfter"] = productAfter;

    record["edition"] = EditionName(context.edition);
    record["words"] = context.words;
    record["images"] = ImagesRecord(context);
    Record lines = Record::array();
    for (const UnitLine& line : run.lines) {
        lines.push_back({{"stream", StreamName(line.stream)}, {"text", line.text}});
    }
    record["lines"] = lines;
    if (!run.serialGiven.empty()) {
        // The serial number the station gave the unit for its -S, and what
        // the unit gave back at its port after the command.
        record["serialGiven"] = run.serialGiven;
        const std::string readBack = run.facts.value("serialAfter", std::string());
        record["serialReadBack"] = readBack.empty() ? Record(nullptr) : Record(readBack);
    }
    record["exitStatus"] = run.exitStatus ? Record(*run.exitStatus) : Record(nullptr);
    record["outcome"] = run.outcome;
    record["reason"] = run.reason.empty() ? Record(nullptr) : Record(run.reason);
    return record;
}

std::string RecordLine(const Record& record) {
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
