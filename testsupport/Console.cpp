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
