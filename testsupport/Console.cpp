#include "testsupport/Console.h"

RedirectedConsole::RedirectedConsole(std::streambuf* out, std::streambuf* err)
    : oldOut(std::cout.rdbuf(out)), oldErr(std::cerr.rdbuf(err)) {}

RedirectedConsole::~RedirectedConsole() {
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    std::cout.clear();
    std::cerr.clear();
}

SilencedConsole::SilencedConsole() : redirected(&sink, &sink) {}

std::string WithoutProgressBar(std::string text) {
    for (std::size_t start; (start = text.find("\0337")) != std::string::npos;) {
        const std::size_t end = text.find("\0338", start);
        text.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
    }
    for (std::size_t at; (at = text.find("\033[K")) != std::string::npos;) {
        text.erase(at, 3);
    }
    return text;
}
