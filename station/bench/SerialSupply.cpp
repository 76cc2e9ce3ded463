#include "station/bench/SerialSupply.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

bool NamesSerialPlaceholder(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word.find(kSerialPlaceholder) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> WithSerial(std::vector<std::string> words, const std::string& serial) {
    for (std::string& word : words) {
        for (std::size_t at = 0; (at = word.find(kSerialPlaceholder, at)) != std::string::npos;) {
            word.replace(at, kSerialPlaceholder.size(), serial);
            at += serial.size();
        }
    }
    return words;
}

namespace {

bool IsSerialText(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!std::isgraph(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The number one up, at the same width; empty when it would need another digit.
std::string CountedUp(std::string digits) {
    for (std::size_t at = digits.size(); at-- > 0;) {
        if (digits[at] != '9') {
            ++digits[at];
            return digits;
        }
        digits[at] = '0';
    }
    return {};
}

}  // namespace

std::variant<SerialSupply, std::string> SerialSupply::CountingFrom(const std::string& first) {
    if (!IsSerialText(first)) {
        return "\"" + first + "\" is not a serial number (printable characters, no spaces)";
    }
    std::size_t digitsAt = first.size();
    while (digitsAt > 0 && std::isdigit(static_cast<unsigned char>(first[digitsAt - 1]))) {
        --digitsAt;
    }
    if (digitsAt == first.size()) {
        return "\"" + first + "\" does not end in digits to count up";
    }
    SerialSupply supply;
    supply.counting = true;
    supply.prefix = first.substr(0, digitsAt);
    supply.digits = first.substr(digitsAt);
    return supply;
}

std::variant<SerialSupply, std::string> SerialSupply::FromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return path + ": cannot be read";
    }
    SerialSupply supply;
    std::set<std::string> seen;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        const auto last = line.find_last_not_of(" \t");
        const std::string serial = line.substr(first, last - first + 1);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (!IsSerialText(serial)) {
            return where + "\"" + serial + "\" is not a serial number (printable characters, no spaces)";
        }
        if (!seen.insert(serial).second) {
            return where + serial + " is listed twice";
        }
        supply.list.push_back(serial);
    }
    if (supply.list.empty()) {
        return path + ":1: no serial number in the file";
    }
    return supply;
}

void SerialSupply::Skip(const std::set<std::string>& given) { skipped.insert(given.begin(), given.end()); }

std::optional<std::string> SerialSupply::Next() {
    if (counting) {
        while (!digits.empty()) {
            std::string serial = prefix + digits;
            digits = CountedUp(digits);
            if (skipped.insert(serial).second) {
                return serial;
            }
        }
        return std::nullopt;
    }
    while (nextInList < list.size()) {
        const std::string& serial = list[nextInList++];
        if (skipped.insert(serial).second) {
            return serial;
        }
    }
    return std::nullopt;
}

std::size_t SerialSupply::Remaining() const {
    if (counting) {
        return SIZE_MAX;
    }
    std::size_t left = 0;
    for (std::size_t at = nextInList; at < list.size(); ++at) {
        left += skipped.count(list[at]) == 0 ? 1 : 0;
    }
    return left;
}

std::optional<std::set<std::string>> SerialsGivenInLog(const std::string& path, std::string& error) {
    std::set<std::string> given;
    std::error_code missing;
    if (!std::filesystem::exists(path, missing) && !missing) {
        return given;  // no log yet: a first run
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "the log " + path + " cannot be read";
        return std::nullopt;
    }
    std::string line;
    while (std::getline(file, line)) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object() || record.value("kind", std::string()) != "unit") {
            continue;
        }
        const auto serial = record.find("serialGiven");
        if (serial != record.end() && serial->is_string()) {
            given.insert(serial->get<std::string>());
        }
    }
    if (file.bad()) {
        error = "the log " + path + " could not be read to its end";
        return std::nullopt;
    }
    return given;
}
