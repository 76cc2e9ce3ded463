// Reading and writing the bench map through toml++. Every refusal names the
// file and the line at fault, so that whoever edits the map by hand can go
// straight to it.
#include "station/bench/BenchMap.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <system_error>

#include <toml++/toml.h>

namespace {

constexpr std::size_t kMaxLabelLength = 16;
constexpr std::size_t kMaxHubDepth = 7;

// Paths are UTF-8 on every system; Windows needs them as wide text.
std::filesystem::path FilePath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// A number 1 to 255 written as the kernel and Windows write port numbers:
// decimal, without leading zeros.
bool IsPortNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && text[0] != '0' &&
           value >= 1 && value <= 255;
}

// "1.2.3": the hub path below the host controller.
bool IsHubPath(std::string_view text) {
    std::size_t depth = 0;
    for (std::size_t start = 0;; ++depth) {
        const std::size_t dot = text.find('.', start);
        if (!IsPortNumber(text.substr(start, dot - start))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return depth + 1 <= kMaxHubDepth;
        }
        start = dot + 1;
    }
}

bool IsLinuxPortName(std::string_view text) {
    const std::size_t dash = text.rfind('-');
    if (!text.starts_with("usb-") || dash == std::string_view::npos || dash <= 4) {
        return false;
    }
    // The host controller's bus name: "0000:00:14.0" on PCI, names such as
    // "xhci-hcd.0.auto" or "fe380000.usb" on boards without one.
    const std::string_view busName = text.substr(4, dash - 4);
    for (const char c : busName) {
        const bool letterOrDigit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                                   (c >= 'A' && c <= 'Z');
        if (!letterOrDigit && c != ':' && c != '.' && c != '-' && c != '_') {
            return false;
        }
    }
    return IsHubPath(text.substr(dash + 1));
}

// One step of a location path, "NAME(ARGUMENT)"; the name and the argument
// through their out parameters.
bool LocationStep(std::string_view step, std::string_view& name, std::string_view& argument) {
    const std::size_t open = step.find('(');
    if (open == 0 || open == std::string_view::npos || !step.ends_with(')') ||
        open + 2 >= step.size()) {
        return false;
    }
    name = step.substr(0, open);
    argument = step.substr(open + 1, step.size() - open - 2);
    for (const std::string_view part : {name, argument}) {
        for (const char c : part) {
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_')) {
                return false;
            }
        }
    }
    return true;
}

// "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)": the steps down to the
// controller, its root hub, then one USB(port) a hub.
bool IsWindowsPortName(std::string_view text) {
    std::size_t stepsAboveRoot = 0;
    std::size_t hubSteps = 0;
    bool atRoot = false;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('#', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view name;
        std::string_view argument;
        if (!LocationStep(text.substr(start, end - start), name, argument)) {
            return false;
        }
        if (!atRoot) {
            atRoot = name == "USBROOT";
            stepsAboveRoot += atRoot ? 0 : 1;
        } else if (name != "USB" || !IsPortNumber(argument) || ++hubSteps > kMaxHubDepth) {
            return false;
        }
        start = end + 1;
    }
    return atRoot && stepsAboveRoot > 0 && hubSteps > 0;
}

bool IsPrintable(char c) { return c >= 0x20 && c <= 0x7e; }

// A text from the file shown back in a reason: anything unprintable as '?',
// so that no control character reaches the console.
std::string Shown(std::string_view text) {
    std::string shown = "\"";
    for (const char c : text) {
        shown += IsPrintable(c) ? c : '?';
    }
    return shown + "\"";
}

// The toml++ parser's verdict: the document's root table, or the parse error.
struct Parsed {
    toml::table root;
    std::optional<std::string> problem;
};

Parsed Parse(const std::string& text, const std::string& path) {
#if TOML_EXCEPTIONS
    try {
        return {toml::parse(text, path), std::nullopt};
    } catch (const toml::parse_error& error) {
        return {{}, path + ":" + std::to_string(error.source().begin.line) + ": " +
                        std::string(error.description())};
    }
#else
    toml::parse_result result = toml::parse(text, path);
    if (!result) {
        return {{}, path + ":" + std::to_string(result.error().source().begin.line) + ": " +
                        std::string(result.error().description())};
    }
    return {std::move(result).table(), std::nullopt};
#endif
}

// Reads the map out of the parsed document; the first problem met, in the
// order of the file, stops it.
class MapReader {
public:
    explicit MapReader(const std::string& path) : path(path) {}

    std::variant<BenchMap, std::string> Read(const toml::table& root) {
        BenchMap map;
        if (!KnownKeysOnly(root, {"name", "columns", "slot"}, "") ||
            !ReadName(root, map) || !ReadSlots(root, map) || !ReadColumns(root, map)) {
            return problem;
        }
        return map;
    }

private:
    bool Refuse(const toml::source_region& where, const std::string& reason) {
        // A missing value has no place of its own: the file's first line.
        const auto line = where.begin.line != 0 ? where.begin.line : 1;
        problem = path + ":" + std::to_string(line) + ": " + reason;
        return false;
    }

    bool KnownKeysOnly(const toml::table& table, std::initializer_list<std::string_view> known,
                       const std::string& where) {
        // toml++ keeps keys sorted: the first unknown key by line is the one told.
        const toml::key* unknown = nullptr;
        for (auto&& [key, value] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end() &&
                (unknown == nullptr || key.source().begin.line < unknown->source().begin.line)) {
                unknown = &key;
            }
        }
        return unknown == nullptr || Refuse(unknown->source(), "unknown key " + Shown(unknown->str()) + where);
    }

    // The text under a key; false (with the reason) when it is missing or not a text.
    bool ReadText(const toml::table& table, std::string_view key, const std::string& owner,
                  std::string& text) {
        const toml::node* node = table.get(key);
        if (node == nullptr) {
            return Refuse(table.source(), owner + " without " + std::string(key));
        }
        if (!node->is_string()) {
            return Refuse(node->source(), std::string(key) + " must be a text in quotes");
        }
        text = node->as_string()->get();
        return true;
    }

    bool ReadName(const toml::table& root, BenchMap& map) {
        if (!ReadText(root, "name", "a bench map", map.name)) {
            return false;
        }
        return !map.name.empty() || Refuse(root.get("name")->source(), "the name is empty");
    }

    bool ReadSlots(const toml::table& root, BenchMap& map) {
        const toml::node* slots = root.get("slot");
        if (slots == nullptr || (slots->is_array() && slots->as_array()->empty())) {
            return Refuse(slots != nullptr ? slots->source() : root.source(),
                          "the map has no [[slot]]");
        }
        if (!slots->is_array_of_tables()) {
            return Refuse(slots->source(), "slot must be written as [[slot]] tables");
        }
        std::map<std::string, std::pair<std::string, toml::source_index>> portOwners;
        std::map<std::string, toml::source_index> labelLines;
        for (const toml::node& entry : *slots->as_array()) {
            const toml::table& table = *entry.as_table();
            BenchSlot slot;
            if (!KnownKeysOnly(table, {"label", "port"}, " in [[slot]]") ||
                !ReadText(table, "label", "[[slot]]", slot.label) ||
                !ReadText(table, "port", "[[slot]]", slot.port)) {
                return false;
            }
            const toml::source_region& labelAt = table.get("label")->source();
            const toml::source_region& portAt = table.get("port")->source();
            if (!IsSlotLabel(slot.label)) {
                return Refuse(labelAt, "label " + Shown(slot.label) + " is not 1 to " +
                                           std::to_string(kMaxLabelLength) +
                                           " printable characters without spaces at the ends");
            }
            if (!IsUsbPortName(slot.port)) {
                return Refuse(portAt, Shown(slot.port) + " is not a USB port");
            }
            if (const auto [earlier, added] = labelLines.emplace(slot.label, labelAt.begin.line); !added) {
                return Refuse(labelAt, "label " + Shown(slot.label) + " is already on line " +
                                           std::to_string(earlier->second));
            }
            if (const auto [earlier, added] = portOwners.emplace(slot.port, std::pair(slot.label, portAt.begin.line));
                !added) {
                return Refuse(portAt, "port " + Shown(slot.port) + " is already slot " +
                                          Shown(earlier->second.first) + "'s, on line " +
                                          std::to_string(earlier->second.second));
            }
            map.slots.push_back(std::move(slot));
        }
        return true;
    }

    bool ReadColumns(const toml::table& root, BenchMap& map) {
        const toml::node* columns = root.get("columns");
        if (columns == nullptr) {
            map.columns = static_cast<int>(std::min<std::size_t>(map.slots.size(), kMaxBenchColumns));
            return true;
        }
        const toml::value<std::int64_t>* number = columns->as_integer();
        if (number == nullptr || number->get() < 1 || number->get() > kMaxBenchColumns) {
            return Refuse(columns->source(), "columns must be a whole number from 1 to " +
                                                 std::to_string(kMaxBenchColumns));
        }
        map.columns = static_cast<int>(number->get());
        return true;
    }

    const std::string& path;
    std::string problem;
};

// A TOML line "key = value", the value as toml++ writes it: a basic string
// in double quotes, escaped where it must be.
std::string Line(std::string_view key, const toml::node& value) {
    constexpr toml::format_flags kFlags =
        toml::toml_formatter::default_flags & ~toml::format_flags::allow_literal_strings &
        ~toml::format_flags::allow_multi_line_strings;
    std::ostringstream line;
    line << key << " = " << toml::toml_formatter(value, kFlags) << '\n';
    return line.str();
}

std::string MapText(const BenchMap& map) {
    std::string text = Line("name", toml::value<std::string>(map.name)) +
                       Line("columns", toml::value<std::int64_t>(map.columns));
    for (const BenchSlot& slot : map.slots) {
        text += "\n[[slot]]\n" + Line("label", toml::value<std::string>(slot.label)) +
                Line("port", toml::value<std::string>(slot.port));
    }
    return text;
}

}  // namespace

const BenchSlot* BenchMap::SlotAtPort(std::string_view port) const {
    for (const BenchSlot& slot : slots) {
        if (slot.port == port) {
            return &slot;
        }
    }
    return nullptr;
}

const BenchSlot* BenchMap::SlotLabelled(std::string_view label) const {
    for (const BenchSlot& slot : slots) {
        if (slot.label == label) {
            return &slot;
        }
    }
    return nullptr;
}

bool IsUsbPortName(std::string_view text) { return IsLinuxPortName(text) || IsWindowsPortName(text); }

bool IsSlotLabel(std::string_view text) {
    if (text.empty() || text.size() > kMaxLabelLength || text.front() == ' ' || text.back() == ' ') {
        return false;
    }
    return std::all_of(text.begin(), text.end(), IsPrintable);
}

std::variant<BenchMap, std::string> LoadBenchMap(const std::string& path) {
    std::error_code ignored;
    std::ifstream file(FilePath(path), std::ios::binary);
    if (!file.is_open() || std::filesystem::is_directory(FilePath(path), ignored)) {
        return path + ": cannot be read";
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        return path + ": cannot be read";
    }
    Parsed parsed = Parse(text, path);
    if (parsed.problem) {
        return *parsed.problem;
    }
    return MapReader(path).Read(parsed.root);
}

std::optional<std::string> SaveBenchMap(const BenchMap& map, const std::string& path) {
    const std::filesystem::path target = FilePath(path);
    // Beside the target, so that the rename stays within one file system;
    // a random part so that two saves never share a temporary file.
    std::ostringstream suffix;
    suffix << std::hex << std::random_device()() << std::random_device()();
    std::filesystem::path temporary = target;
    temporary += ".saving-" + suffix.str();
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << MapText(map);
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return path + ": cannot be written";
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return path + ": cannot be replaced: " + error.message();
    }
    return std::nullopt;
}
