// What a station needs of the system, on Linux and under Wine alike: worker
// processes whose two streams arrive apart and whose ending is told as it
// was; a record file that stays whole lines; SHA-256 as the standard's own
// examples give it.
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "platform/files/RecordFile.h"
#include "platform/files/Sha256.h"
#include "platform/process/WorkerProcess.h"
#include "testsupport/TempFiles.h"

namespace {

#ifdef _WIN32
const std::string kShell = "C:\\windows\\system32\\cmd.exe";
std::vector<std::string> Script(const std::string& commands) { return {"/c", commands}; }
const std::string kLineEnd = "\r\n";
#else
const std::string kShell = "/bin/sh";
std::vector<std::string> Script(const std::string& commands) { return {"-c", commands}; }
const std::string kLineEnd = "\n";
#endif

std::string ReadToEnd(platform::WorkerProcess& worker, platform::WorkerProcess::Stream stream) {
    std::string text;
    char buffer[256];
    for (long n; (n = worker.Read(stream, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(StationPlatform, WorkerStreamsArriveApartAndItsStatusComesBack) {
    std::string error;
    auto worker = platform::WorkerProcess::Start(kShell, Script("echo said&& echo complained 1>&2&& exit 7"), error);
    ASSERT_NE(worker, nullptr) << error;
    EXPECT_EQ(ReadToEnd(*worker, platform::WorkerProcess::Output), "said" + kLineEnd);
    EXPECT_NE(ReadToEnd(*worker, platform::WorkerProcess::Error).find("complained"), std::string::npos);
    const platform::WorkerEnding ending = worker->Wait();
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 7);

    // A worker that never ends by itself is ended, and its streams close.
    auto stuck = platform::WorkerProcess::Start(kShell, Script("ping -n 60 127.0.0.1 || sleep 60"), error);
    ASSERT_NE(stuck, nullptr) << error;
    stuck->Kill();
    ReadToEnd(*stuck, platform::WorkerProcess::Output);
    const platform::WorkerEnding killed = stuck->Wait();
#ifdef _WIN32
    EXPECT_TRUE(killed.exited);
#else
    EXPECT_FALSE(killed.exited);
    EXPECT_EQ(killed.description, "killed by signal 9 (Killed)");
#endif

    EXPECT_EQ(platform::WorkerProcess::Start("/no/such/program", {}, error), nullptr);
    EXPECT_FALSE(error.empty());
}

#ifndef _WIN32
// A descriptor the station holds without close-on-exec (a library's socket)
// does not reach a worker.
TEST(StationPlatform, WorkerInheritsOnlyItsStreams) {
    const int held = dup(STDIN_FILENO);
    ASSERT_GE(held, 3);
    std::string error;
    auto worker = platform::WorkerProcess::Start(
        kShell, Script("test -e /proc/self/fd/" + std::to_string(held) + " && echo held || echo closed"),
        error);
    ASSERT_NE(worker, nullptr) << error;
    EXPECT_EQ(ReadToEnd(*worker, platform::WorkerProcess::Output), "closed\n");
    worker->Wait();
    close(held);
}

// A worker's own children end with it: one left behind would hold the
// worker's pipes open, and its streams would not end.
TEST(StationPlatform, EndingAWorkerEndsWhatItStarted) {
    std::string error;
    auto worker = platform::WorkerProcess::Start(kShell, Script("sleep 30 & echo started; wait"), error);
    ASSERT_NE(worker, nullptr) << error;
    char buffer[16];
    ASSERT_GT(worker->Read(platform::WorkerProcess::Output, buffer, sizeof buffer), 0);
    worker->Kill();
    auto rest = std::async(std::launch::async, [&] {
        return ReadToEnd(*worker, platform::WorkerProcess::Output);
    });
    EXPECT_EQ(rest.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the worker's child still holds its standard output";
    rest.wait();
    worker->Wait();
}
#endif

TEST(StationPlatform, RecordLinesStayWholeAfterAHalfLine) {
    const TempFile log(Bytes{'{', '"', 'a'}, ".jsonl");  // an earlier writer stopped here
    std::string error;
    auto record = platform::RecordFile::Open(log.Path(), error);
    ASSERT_NE(record, nullptr) << error;
    ASSERT_TRUE(record->AppendLine("{\"unit\":1}", error)) << error;
    ASSERT_TRUE(record->AppendLine("{\"unit\":2}", error)) << error;
    EXPECT_EQ(Contents(log.Path()), "{\"a\n{\"unit\":1}" + kLineEnd + "{\"unit\":2}" + kLineEnd);

    EXPECT_EQ(platform::RecordFile::Open(TempPath("") + "/missing/log.jsonl", error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(StationPlatform, Sha256OfTheStandardsExamples) {
    const TempFile abc(Bytes{'a', 'b', 'c'});
    EXPECT_EQ(platform::Sha256OfFile(abc.Path()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const TempFile empty(Bytes{});
    EXPECT_EQ(platform::Sha256OfFile(empty.Path()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(platform::Sha256OfFile(TempPath("-missing")), std::nullopt);
}

}  // namespace
