// Serial numbers for a shift: each unit that a station's -S {serial} command
// runs on gets one of its own, counted up from a first one or taken in
// order from a list, and none is ever given twice: every serial number a
// station's log records as given is skipped, across runs and restarts.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The word of the tool's command that stands for the unit's serial number.
inline constexpr std::string_view kSerialPlaceholder = "{serial}";

// Whether any of the words holds the placeholder.
bool NamesSerialPlaceholder(const std::vector<std::string>& words);

// The words with every placeholder replaced by the serial number.
std::vector<std::string> WithSerial(std::vector<std::string> words, const std::string& serial);

class SerialSupply {
public:
    // "QC7F1000": the trailing digits count up, keeping their width
    // (QC7F1000, QC7F1001, ...); a serial without trailing digits, or whose
    // digits would run out, is refused with why.
    static std::variant<SerialSupply, std::string> CountingFrom(const std::string& first);
    // One serial number a line; blank lines and "#" comments skipped; a
    // serial twice in the file, a line with spaces inside, or an empty
    // list is refused with "FILE:LINE: REASON".
    static std::variant<SerialSupply, std::string> FromFile(const std::string& path);

    // Never gives these (the ones a log records as given).
    void Skip(const std::set<std::string>& given);

    // The next serial number, or none when the list is used up (counting
    // runs out when the digits would need another place).
    std::optional<std::string> Next();

    // What is left: "serials from FILE: N left" or "counting from X".
    std::size_t Remaining() const;  // of a list; SIZE_MAX when counting

private:
    SerialSupply() = default;

    bool counting = false;
    std::string prefix;        // counting: the text before the digits
    std::string digits;        // counting: the next number, at its width
    std::vector<std::string> list;
    std::size_t nextInList = 0;
    std::set<std::string> skipped;
};

// The serial numbers that the records in a station's log say were given to
// a unit ("serialGiven" of a unit record), whatever became of the unit: a
// serial sent once may be in a unit even when its run failed. A log that
// does not exist yet gives none; lines that are not records are passed over.
// Nothing, with why, when the file exists but cannot be read.
std::optional<std::set<std::string>> SerialsGivenInLog(const std::string& path, std::string& error);
