// The tool's console: pointed elsewhere while it runs in this process, and
// read as the user reads it.
#pragma once

#include <iostream>
#include <streambuf>
#include <string>

// Points std::cout and std::cerr at other buffers while it lives. Their error
// states are cleared when it ends, so that a run whose writes failed leaves
// the next one a working console.
class RedirectedConsole {
public:
    RedirectedConsole(std::streambuf* out, std::streambuf* err);
    ~RedirectedConsole();
    RedirectedConsole(const RedirectedConsole&) = delete;
    RedirectedConsole& operator=(const RedirectedConsole&) = delete;

private:
    std::streambuf* oldOut;
    std::streambuf* oldErr;
};

// Sends std::cout and std::cerr nowhere while it lives: what the tool's lines
// cost in a script whose output goes to a file, not what a terminal costs.
class SilencedConsole {
public:
    SilencedConsole();

private:
    class Sink : public std::streambuf {
    protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    Sink sink;
    RedirectedConsole redirected;
};

// The text without the progress bar's drawing (saved cursor ... restored
// cursor) and erasing (clear to end of line): what the user reads afterwards.
std::string WithoutProgressBar(std::string text);
