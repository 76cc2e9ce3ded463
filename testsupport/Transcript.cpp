#include "testsupport/Transcript.h"

#include <sstream>

Transcript Lines(const std::string& text) {
    Transcript lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

Transcript Join(std::initializer_list<Transcript> parts) {
    Transcript all;
    for (const Transcript& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
