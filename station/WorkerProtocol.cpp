#include "station/WorkerProtocol.h"

#include <charconv>

namespace {

bool ReadNumber(std::string_view& text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{}) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

}  // namespace

std::string EncodeEvent(const WorkerEvent& event) {
    switch (event.kind) {
        case WorkerEvent::Kind::Output:
            return "O " + event.text;
        case WorkerEvent::Kind::Error:
            return "E " + event.text;
        case WorkerEvent::Kind::Activity:
            return "A";
        case WorkerEvent::Kind::Progress:
            return "P " + std::to_string(event.done) + " " + std::to_string(event.total);
        case WorkerEvent::Kind::Facts:
            return "U " + event.text;
    }
    return "A";
}

std::optional<WorkerEvent> DecodeEvent(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty()) {
        return std::nullopt;
    }
    WorkerEvent event;
    const char tag = line.front();
    if (tag == 'A' && line.size() == 1) {
        event.kind = WorkerEvent::Kind::Activity;
        return event;
    }
    if (line.size() < 2 || line[1] != ' ') {
        return std::nullopt;
    }
    std::string_view rest = line.substr(2);
    switch (tag) {
        case 'O':
            event.kind = WorkerEvent::Kind::Output;
            break;
        case 'E':
            event.kind = WorkerEvent::Kind::Error;
            break;
        case 'U':
            event.kind = WorkerEvent::Kind::Facts;
            break;
        case 'P':
            event.kind = WorkerEvent::Kind::Progress;
            if (!ReadNumber(rest, event.done) || rest.empty() || rest.front() != ' ') {
                return std::nullopt;
            }
            rest.remove_prefix(1);
            if (!ReadNumber(rest, event.total) || !rest.empty()) {
                return std::nullopt;
            }
            return event;
        default:
            return std::nullopt;
    }
    event.text = std::string(rest);
    return event;
}
