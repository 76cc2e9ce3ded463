// What a station needs of Windows beyond the portable checks
// (StationPlatformTest.cpp), under Wine: workers ended with whatever they
// started, port claims between processes, log names that are devices, and
// the wait of a stop request that ends the program. The other process of
// the claim checks is this suite started again with QUORL_TEST_CHILD set,
// which does its part before the suite would run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include "platform/files/RecordFile.h"
#include "platform/net/ListeningSocket.h"
#include "platform/process/PortClaim.h"
#include "platform/process/StopRequestWindows.h"
#include "platform/process/WorkerProcess.h"
#include "platform/usb/DeviceNotificationsWindows.h"
#include "testsupport/TempFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps a minute at most, or while a claim is held.
void Hold(const bool& holding) {
    const auto until = Clock::now() + std::chrono::minutes(1);
    while (holding && Clock::now() < until) {
        Sleep(100);
    }
}

// The child's part, by QUORL_TEST_CHILD: "claim PORT" takes the claim, says
// how it went and holds it; "spawn" starts the suite again as "sleep" on its
// own standard streams, says so and sleeps; "sleep" sleeps.
[[maybe_unused]] const bool kChildDone = [] {
    const char* variable = std::getenv("QUORL_TEST_CHILD");
    const std::string role = variable != nullptr ? variable : "";
    if (role.rfind("claim ", 0) == 0) {
        long holder = 0;
        std::string error;
        auto claim = platform::PortClaim::Take(role.substr(6), holder, error);
        if (claim) {
            std::printf("claimed by %lu\n", GetCurrentProcessId());
        } else {
            std::printf("refused, holder %ld%s\n", holder, error.empty() ? "" : (" " + error).c_str());
        }
        std::fflush(stdout);
        Hold(claim != nullptr);
    } else if (role == "spawn") {
        _putenv_s("QUORL_TEST_CHILD", "sleep");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        wchar_t line[] = L"sleeper";
        const std::wstring self = [] {
            std::wstring path(MAX_PATH, L'\0');
            path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
            return path;
        }();
        if (CreateProcessW(self.c_str(), line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                           nullptr, &startup, &started)) {
            std::printf("started\n");
            std::fflush(stdout);
        }
        Hold(true);
    } else if (role == "sleep") {
        Hold(true);
    } else {
        return false;
    }
    ExitProcess(0);
}();

std::string ReadLine(platform::WorkerProcess& worker) {
    std::string line;
    char c = 0;
    while (worker.Read(platform::WorkerProcess::Output, &c, 1) == 1 && c != '\n') {
        if (c != '\r') {
            line += c;
        }
    }
    return line;
}

// This suite again, in a child's part: its first line.
std::string Child(const std::string& role, std::unique_ptr<platform::WorkerProcess>& child) {
    _putenv_s("QUORL_TEST_CHILD", role.c_str());
    std::string error;
    child = platform::WorkerProcess::Start(platform::OwnExecutablePath(), {}, error);
    _putenv_s("QUORL_TEST_CHILD", "");
    return child ? ReadLine(*child) : "not started: " + error;
}

TEST(StationPlatformWindows, PortClaimIsOneProcessAtATimeAndNamesItsHolder) {
    // Names of this run's own.
    const std::string prefix = "Local\\quorl-test-" + std::to_string(GetCurrentProcessId()) + "-";
    _putenv_s("QUORL_PORT_CLAIMS", prefix.c_str());
    const std::string port = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    const std::string me = std::to_string(GetCurrentProcessId());
    long holder = -1;
    std::string error;
    {
        auto claim = platform::PortClaim::Take(port, holder, error);
        ASSERT_NE(claim, nullptr) << error;
        // Neither another process nor this one again.
        std::unique_ptr<platform::WorkerProcess> child;
        EXPECT_EQ(Child("claim " + port, child), "refused, holder " + me);
        EXPECT_EQ(platform::PortClaim::Take(port, holder, error), nullptr);
        EXPECT_EQ(holder, GetCurrentProcessId());
        // Another port, and texts that only escaping tells apart.
        EXPECT_NE(platform::PortClaim::Take(port + "#USB(1)", holder, error), nullptr) << error;
        auto backslash = platform::PortClaim::Take("a\\b", holder, error);
        EXPECT_NE(backslash, nullptr) << error;
        EXPECT_NE(platform::PortClaim::Take("a%5Cb", holder, error), nullptr) << error;
        // Too long for a name as it is, told apart by the end.
        const std::string hub(300, 'h');
        auto longOne = platform::PortClaim::Take(hub + "1", holder, error);
        EXPECT_NE(longOne, nullptr) << error;
        EXPECT_NE(platform::PortClaim::Take(hub + "2", holder, error), nullptr) << error;
        EXPECT_EQ(platform::PortClaim::Take(hub + "1", holder, error), nullptr);
    }
    // Let go: another process takes it, and names itself to this one. Ended
    // without letting go, its claim passes on, also to a station that was
    // looking at that moment (and meets the mutex abandoned).
    std::unique_ptr<platform::WorkerProcess> child;
    const std::string claimed = Child("claim " + port, child);
    ASSERT_EQ(claimed.rfind("claimed by ", 0), 0u) << claimed;
    EXPECT_EQ(platform::PortClaim::Take(port, holder, error), nullptr);
    EXPECT_EQ("claimed by " + std::to_string(holder), claimed);
    const HANDLE looking = CreateMutexA(nullptr, FALSE, (prefix + port).c_str());
    child->Kill();
    child->Wait();
    EXPECT_NE(platform::PortClaim::Take(port, holder, error), nullptr) << error;
    CloseHandle(looking);
    _putenv_s("QUORL_PORT_CLAIMS", "");
}

// Killed, a worker takes what it started with it: nothing is left holding
// its pipes, so its streams end at once rather than when the last of its
// processes ends by itself (here, a minute later).
TEST(StationPlatformWindows, KilledWorkerTakesItsChildrenWithIt) {
    std::unique_ptr<platform::WorkerProcess> worker;
    ASSERT_EQ(Child("spawn", worker), "started");
    worker->Kill();
    platform::WorkerProcess* killed = worker.get();
    auto drained = std::async(std::launch::async, [killed] {
        char buffer[256];
        while (killed->Read(platform::WorkerProcess::Output, buffer, sizeof buffer) > 0) {
        }
    });
    if (drained.wait_until(Clock::now() + std::chrono::seconds(15)) != std::future_status::ready) {
        ADD_FAILURE() << "the worker's output is still open 15 s after it was killed";
        // The reader still reads: the worker and the reader are left to it.
        new std::future<void>(std::move(drained));
        worker.release();
        return;
    }
    EXPECT_TRUE(worker->Wait().exited);
}

// --log names the record file: a device name in any form, or a path in the
// device namespace, is refused before anything opens it; so is anything
// that opens as no file on disk.
TEST(StationPlatformWindows, LogThatIsNoFileIsRefused) {
    const TempDirectory folder;
    const std::string device = " is a reserved device name on Windows, in any folder and with any extension";
    struct Row {
        std::string path;
        std::string error;
    };
    const std::vector<Row> rows = {
        {"NUL", "NUL" + device},
        {"nul.txt", "NUL" + device},
        {folder.Path() + "\\Con.log.jsonl", "CON" + device},
        {folder.Path() + "/aux", "AUX" + device},
        {"C:com1.jsonl", "COM1" + device},
        {folder.Path() + "\\lpt9 .log", "LPT9" + device},
        {"COM\xC2\xB9", "COM\xC2\xB9" + device},
        {"conout$", "CONOUT$" + device},
        {"\\\\.\\pipe\\quorl-log", "a device path, not a file"},
        {"//./COM12", "a device path, not a file"},
        {"\\\\?\\GLOBALROOT\\Device\\Null", "a device path, not a file"},
        {folder.Path(), "a folder, not a file"},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_EQ(platform::RecordFile::Open(row.path, error), nullptr) << row.path;
        EXPECT_EQ(error, row.error) << row.path;
    }
    // Names that only begin like a device are files.
    for (const std::string name : {"nul-log.txt", "console.log", "com10.log", "lpt.log", "com1x"}) {
        std::string error;
        EXPECT_NE(platform::RecordFile::Open(folder.Path() + "\\" + name, error), nullptr)
            << name << ": " << error;
    }
    // A character device under a file's name: scripts/test-windows.sh links
    // one to /dev/null.
    if (const char* ports = std::getenv("QUORL_WINE_PORTS")) {
        std::string error;
        EXPECT_EQ(platform::RecordFile::Open(std::string(ports) + "\\null-device.log", error), nullptr);
        EXPECT_EQ(error, "not a regular file");
    }
}

std::atomic<int> stopRequests{0};
void CountStopRequest() { ++stopRequests; }

// Each request calls the handler. Ctrl+C and Ctrl+Break return at once; a
// console that closes ends the program when its event returns, so that
// event waits until the program has recorded what it could.
TEST(StationPlatformWindows, ClosingConsoleWaitsUntilTheStopIsServed) {
    platform::OnStopRequest(CountStopRequest);
    stopRequests = 0;
    for (const unsigned long event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
        auto served = std::async(std::launch::async, [event] { return platform::ServeConsoleEvent(event); });
        ASSERT_EQ(served.wait_until(Clock::now() + std::chrono::seconds(2)), std::future_status::ready);
        EXPECT_TRUE(served.get());
    }
    EXPECT_EQ(stopRequests, 2);
    auto closing = std::async(std::launch::async, [] { return platform::ServeConsoleEvent(CTRL_CLOSE_EVENT); });
    for (const auto until = Clock::now() + std::chrono::seconds(2); stopRequests < 3 && Clock::now() < until;) {
        std::this_thread::yield();
    }
    EXPECT_EQ(stopRequests, 3);
    EXPECT_EQ(closing.wait_until(Clock::now() + std::chrono::milliseconds(300)), std::future_status::timeout);
    platform::StopRequestServed();
    ASSERT_EQ(closing.wait_until(Clock::now() + std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_TRUE(closing.get());
}

// A loopback TCP socket, made as Windows makes them by default (inheritable).
SOCKET LoopbackSocket(sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

// The page's listening socket: no worker inherits it, and no other program
// can bind its port, not even one that asks to share it.
TEST(StationPlatformWindows, PagesListeningSocketIsNeitherInheritedNorShared) {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    sockaddr_in address;
    const SOCKET listening = LoopbackSocket(address);
    ASSERT_NE(listening, INVALID_SOCKET);
    platform::PrepareListeningSocket(static_cast<std::uintptr_t>(listening));
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(listening), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    // Bound, not yet listening: where two sockets that both ask to share a
    // port may share it, on Windows and (as Wine runs it) on Linux alike.
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    int length = sizeof address;
    ASSERT_EQ(getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length), 0);

    sockaddr_in same;
    const SOCKET intruder = LoopbackSocket(same);
    ASSERT_NE(intruder, INVALID_SOCKET);
    const BOOL yes = TRUE;
    setsockopt(intruder, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    EXPECT_NE(bind(intruder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << "a second socket took port " << ntohs(address.sin_port);
    closesocket(intruder);
    closesocket(listening);
    WSACleanup();
}

// Where Windows gives no device notifications (Wine 8 has none), the USB
// watch says "changed" once a period: never before the tick, never "nothing"
// before the deadline, and one tick for a caller who missed several.
TEST(StationPlatformWindows, UsbWatchPollsWhereNoNotificationComes) {
    using std::chrono::milliseconds;
    const auto opened = Clock::now();
    auto poll = platform::OpenUsbPoll(milliseconds(300));
    EXPECT_FALSE(poll->WaitForChange(opened - std::chrono::seconds(1)));
    EXPECT_FALSE(poll->WaitForChange(opened + milliseconds(100)));
    EXPECT_GE(Clock::now(), opened + milliseconds(100));
    EXPECT_TRUE(poll->WaitForChange(opened + std::chrono::seconds(30)));
    EXPECT_GE(Clock::now(), opened + milliseconds(300));
    EXPECT_FALSE(poll->WaitForChange(Clock::now()));
    std::this_thread::sleep_until(opened + milliseconds(1500));
    EXPECT_TRUE(poll->WaitForChange(Clock::now()));
    EXPECT_FALSE(poll->WaitForChange(Clock::now()));

    // On Windows itself: the notified watch, which says "nothing" only once
    // its deadline has passed.
    if (auto notified = platform::OpenDeviceNotifications()) {
        const auto until = Clock::now() + milliseconds(200);
        if (!notified->WaitForChange(until)) {
            EXPECT_GE(Clock::now(), until);
        }
    }
}

}  // namespace
