// The bench's live page: the board that the station's events build, the
// --dashboard address, and the real server on an ephemeral loopback port,
// read as a browser (or a hostile page, or a stalled tab) would.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "station/dashboard/BenchBoard.h"
#include "station/dashboard/DashboardAddress.h"
#include "station/dashboard/DashboardServer.h"

namespace {

using nlohmann::json;
using quorl::dashboard::BenchBoard;
using quorl::dashboard::BenchSetup;
using quorl::dashboard::DashboardServer;
using Clock = std::chrono::steady_clock;

const std::string kSha = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

BenchSetup TwoSlots() {
    return {"Bench 1", {"-b", "image.bin"}, {{"image.bin", kSha}}, "1.0.0", 2, {"A1", "B1"}};
}

json TileOf(const BenchBoard& board, const std::string& slot) {
    const json snapshot = board.Snapshot();
    for (const auto& tile : snapshot["tiles"]) {
        if (tile["slot"] == slot) {
            return tile;
        }
    }
    return nullptr;
}

// ---- The board -------------------------------------------------------------

struct BoardRow {
    json event;
    json expectedTileFields;  // fields of A1 after the event; null: the event changes nothing
};

TEST(BenchBoardTest, EventsChangeTheTileAsTheUnitGoesThroughItsRun) {
    BenchBoard board(TwoSlots());
    const std::vector<BoardRow> rows = {
        {{{"event", "arrived"}, {"slot", "A1"}, {"serial", "QC7"}, {"release", "1.4.0"}},
         {{"phase", "arrived"}, {"serial", "QC7"}, {"release_before", "1.4.0"}, {"result", nullptr},
          {"percent", nullptr}}},
        {{{"event", "started"}, {"slot", "A1"}}, {{"phase", "running"}, {"percent", 0}, {"serial", "QC7"}}},
        {{{"event", "progress"}, {"slot", "A1"}, {"percent", 42}, {"phase", "writing"}, {"elapsed_s", 12.5}},
         {{"percent", 42}, {"phase", "writing"}, {"elapsed_s", 12.5}}},
        {{{"event", "progress"}, {"slot", "A1"}, {"percent", 250}}, {{"percent", 100}}},
        {{{"event", "progress"}, {"slot", "A1"}, {"percent", "half"}}, nullptr},
        {{{"event", "line"}, {"slot", "A1"}, {"text", "Verifying"}}, {{"line", "Verifying"}, {"phase", "writing"}}},
        {{{"event", "ended"}, {"slot", "A1"}, {"result", "FAIL"}, {"reason", "verify failed"}},
         {{"result", "FAIL"}, {"reason", "verify failed"}, {"phase", "done"}, {"percent", 100}}},
        {{{"event", "ended"}, {"slot", "A1"}, {"result", "OK"}}, nullptr},
        {{{"event", "arrived"}, {"slot", "A1"}, {"serial", "QC8"}, {"release", "1.4.1"}},
         {{"serial", "QC8"}, {"result", nullptr}, {"reason", ""}, {"line", ""}, {"release_before", "1.4.1"}}},
        {{{"event", "ended"}, {"slot", "A1"}, {"result", "PASS"}, {"release", "1.5.2"}, {"elapsed_s", 47}},
         {{"result", "PASS"}, {"percent", 100}, {"release_before", "1.4.1"}, {"release_after", "1.5.2"},
          {"elapsed_s", 47}}},
        {{{"event", "removed"}, {"slot", "A1"}},
         {{"phase", "empty"}, {"serial", ""}, {"result", nullptr}, {"release_after", ""}}},
        {{{"event", "arrived"}, {"slot", "Z9"}}, nullptr},
        {{{"event", "landed"}, {"slot", "A1"}}, nullptr},
        {json::array({1, 2}), nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.event.dump());
        const json before = board.Snapshot();
        const json change = board.Apply(row.event);
        if (row.expectedTileFields.is_null()) {
            EXPECT_TRUE(change.is_null());
            EXPECT_EQ(board.Snapshot(), before);
            continue;
        }
        const json tile = TileOf(board, "A1");
        EXPECT_EQ(change["tile"], tile);
        for (const auto& [key, value] : row.expectedTileFields.items()) {
            EXPECT_EQ(tile[key], value) << key;
        }
    }
    // One FAIL then one PASS of A1; B1 untouched throughout.
    EXPECT_EQ(board.Snapshot()["counters"],
              json({{"passed", 1}, {"failed", 1}, {"units_per_hour", 0}, {"yield", 50.0}}));
    EXPECT_EQ(TileOf(board, "B1")["phase"], "empty");
    std::istringstream lines(board.RecordsJsonLines());
    std::string first;
    std::string second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(json::parse(first)["reason"], "verify failed");
    EXPECT_EQ(json::parse(second)["serial"], "QC8");
}

TEST(BenchBoardTest, CountersRecordsAndNoticesAreBoundedAndShownAsTheStationSaysThem) {
    BenchBoard board(TwoSlots());
    EXPECT_EQ(board.Snapshot()["bench"]["images"][0]["sha256"], "0123456789ab");
    EXPECT_EQ(board.Snapshot()["counters"]["yield"], nullptr);
    // The page lists what the tile showed; the whole record goes to /records.jsonl.
    for (int unit = 0; unit < 55; ++unit) {
        board.Apply({{"event", "arrived"}, {"slot", "B1"}, {"serial", "QC" + std::to_string(unit)}});
        board.Apply({{"event", "ended"}, {"slot", "B1"}, {"result", "PASS"},
                     {"record", {{"serial", "QC" + std::to_string(unit)}, {"lines", json::array()}}}});
    }
    json snapshot = board.Snapshot();
    ASSERT_EQ(snapshot["records"].size(), 50u);
    EXPECT_EQ(snapshot["records"][0]["serial"], "QC5");
    EXPECT_EQ(snapshot["records"][49]["serial"], "QC54");
    const std::string all = board.RecordsJsonLines();
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 55);
    EXPECT_NE(all.find("{\"lines\":[],\"serial\":\"QC54\"}\n"), std::string::npos);

    // The station's own counts win: 7 of 8 passed.
    const json change = board.Apply({{"event", "counters"}, {"units_per_hour", 96}, {"passed", 7}, {"failed", 1}});
    EXPECT_EQ(change["counters"], json({{"passed", 7}, {"failed", 1}, {"units_per_hour", 96.0}, {"yield", 87.5}}));

    for (int notice = 1; notice <= 25; ++notice) {
        board.Apply({{"event", "notice"}, {"level", "warning"}, {"text", "notice " + std::to_string(notice)}});
    }
    snapshot = board.Snapshot();
    ASSERT_EQ(snapshot["notices"].size(), BenchBoard::kNoticesKept);
    EXPECT_EQ(snapshot["notices"].back(), json({{"level", "warning"}, {"text", "notice 25"}}));
    EXPECT_EQ(snapshot["notices"].front()["text"], "notice 6");
}

// ---- --dashboard [ADDRESS:]PORT --------------------------------------------

TEST(DashboardAddressTest, LoopbackUnlessNamedAndAWarningForAnyOtherAddress) {
    struct Row {
        std::string text;
        bool ok;
        std::string host;
        int port;
        std::string warning;
    };
    const std::vector<Row> rows = {
        {"8080", true, "127.0.0.1", 8080, ""},
        {"0", true, "127.0.0.1", 0, ""},
        {"127.0.0.1:9000", true, "127.0.0.1", 9000, ""},
        {"localhost:65535", true, "localhost", 65535, ""},
        {"[::1]:8080", true, "::1", 8080, ""},
        {"0.0.0.0:8080", true, "0.0.0.0", 8080,
         "the dashboard at http://0.0.0.0:8080/ can be read by anyone on that network"},
        {"192.168.4.20:80", true, "192.168.4.20", 80,
         "the dashboard at http://192.168.4.20:80/ can be read by anyone on that network"},
        {"[::]:8080", true, "::", 8080, "the dashboard at http://[::]:8080/ can be read by anyone on that network"},
        {"65536", false, "", 0, ""},
        {"-1", false, "", 0, ""},
        {"", false, "", 0, ""},
        {"http", false, "", 0, ""},
        {"bench.example:80", false, "", 0, ""},
        {"300.1.1.1:80", false, "", 0, ""},
        {"1.2.3:80", false, "", 0, ""},
        {"[::1]8080", false, "", 0, ""},
        {"127.0.0.1:", false, "", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address = quorl::dashboard::ParseDashboardAddress(row.text);
        ASSERT_EQ(address.ok, row.ok) << address.error;
        if (!row.ok) {
            EXPECT_FALSE(address.error.empty());
            continue;
        }
        EXPECT_EQ(address.host, row.host);
        EXPECT_EQ(address.port, row.port);
        EXPECT_EQ(address.warning, row.warning);
    }
}

// ---- The server --------------------------------------------------------------

// A raw connection, for what a browser library would hide: a stream left
// unread, the status line of a refused connection.
class RawClient {
public:
    // Connected within the time, or not at all: a server that takes none
    // fails the test instead of holding it.
    explicit RawClient(int port, int receiveBuffer = 0, Clock::duration within = std::chrono::seconds(10)) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        if (!connected_ && errno == EINPROGRESS) {
            pollfd writable{fd_, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof(error);
            connected_ = poll(&writable, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(within).count())) == 1 &&
                         getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Get(const std::string& path, int port) {
        const std::string request =
            "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
        return connected_ && send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    }

    // Reads until the text has come, the peer closed, or the deadline passed.
    bool ReadUntil(const std::string& text, Clock::duration within = std::chrono::seconds(20)) {
        const auto deadline = Clock::now() + within;
        while (received_.find(text, searched_) == std::string::npos) {
            searched_ = received_.size() > text.size() ? received_.size() - text.size() : 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd readable{fd_, POLLIN, 0};
            if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) {
                return false;
            }
            char buffer[65536];
            const ssize_t count = recv(fd_, buffer, sizeof(buffer), 0);
            if (count <= 0) {
                closed_ = true;
                return received_.find(text) != std::string::npos;
            }
            received_.append(buffer, static_cast<std::size_t>(count));
        }
        return true;
    }

    const std::string& Received() const { return received_; }
    void Forget() {
        received_.clear();
        searched_ = 0;
    }
    bool Closed() const { return closed_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    std::string received_;
    std::size_t searched_ = 0;
};

template <typename Condition>
bool WaitFor(Condition condition, Clock::duration within = std::chrono::seconds(20)) {
    const auto deadline = Clock::now() + within;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int ThreadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

class DashboardServerTest : public ::testing::Test {
protected:
    void Start(DashboardServer::Limits limits) {
        server_ = std::make_unique<DashboardServer>(board_, limits);
        quorl::dashboard::DashboardAddress address;  // 127.0.0.1, any free port
        std::string error;
        ASSERT_TRUE(server_->Start(address, error)) << error;
        port_ = server_->Port();
        ASSERT_GT(port_, 0);
    }
    void SetUp() override {
        DashboardServer::Limits limits;
        limits.heartbeat = std::chrono::milliseconds(300);
        Start(limits);
    }
    httplib::Client Client() const {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(20, 0);
        return client;
    }
    int Status(const httplib::Result& result) const { return result ? result->status : -1; }

    BenchBoard board_{TwoSlots()};
    std::unique_ptr<DashboardServer> server_;
    int port_ = 0;
};

TEST_F(DashboardServerTest, ServesThePageAndTheStateToItsOwnAddressOnlyAndOnlyToRead) {
    server_->Apply({{"event", "arrived"}, {"slot", "A1"}, {"serial", "QC7"}});
    server_->Apply({{"event", "line"}, {"slot", "A1"}, {"text", "bad byte \xff here"}});
    server_->Apply({{"event", "ended"}, {"slot", "A1"}, {"result", "PASS"}});
    auto client = Client();
    struct Row {
        std::string method;
        std::string path;
        httplib::Headers headers;
        int status;
    };
    const std::vector<Row> rows = {
        {"GET", "/", {}, 200},
        {"HEAD", "/", {}, 200},
        {"GET", "/app.js", {}, 200},
        {"GET", "/state", {{"Host", "localhost:" + std::to_string(port_)}}, 200},
        {"GET", "/state", {{"Host", "LOCALHOST"}}, 200},
        {"GET", "/state", {{"Host", "127.0.0.1"}}, 200},
        {"GET", "/nothing", {}, 404},
        {"POST", "/state", {}, 405},
        {"PUT", "/", {}, 405},
        {"DELETE", "/records.jsonl", {}, 405},
        {"OPTIONS", "/", {}, 405},
        {"GET", "/state", {{"Host", "bench.attacker.example"}}, 421},
        {"GET", "/state", {{"Host", "bench.attacker.example:" + std::to_string(port_)}}, 421},
        {"GET", "/state", {{"Host", "127.0.0.1:" + std::to_string(port_ + 1)}}, 421},
        {"GET", "/state", {{"Host", "localhost.attacker.example"}}, 421},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method + " " + row.path);
        httplib::Request request;
        request.method = row.method;
        request.path = row.path;
        request.headers = row.headers;
        EXPECT_EQ(Status(client.send(request)), row.status);
    }
    const auto state = client.Get("/state");
    ASSERT_EQ(Status(state), 200);
    EXPECT_EQ(json::parse(state->body)["tiles"][0]["line"], "bad byte \xef\xbf\xbd here");
    EXPECT_EQ(json::parse(state->body)["counters"]["passed"], 1);
    const auto records = client.Get("/records.jsonl");
    ASSERT_EQ(Status(records), 200);
    EXPECT_EQ(json::parse(records->body)["serial"], "QC7");
    const auto page = client.Get("/");
    EXPECT_NE(page->body.find("/app.js"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
}

TEST_F(DashboardServerTest, OversizedHeadersAreRefusedAndOthersStillServed) {
    auto client = Client();
    // One line past what any browser sends, and many lines that add up.
    EXPECT_EQ(Status(client.Get("/state", {{"X-Big", std::string(100 * 1024, 'a')}})), 431);
    httplib::Headers many;
    for (int i = 0; i < 40; ++i) {
        many.emplace("X-Part-" + std::to_string(i), std::string(300, 'b'));
    }
    EXPECT_EQ(Status(client.Get("/state", many)), 431);
    EXPECT_EQ(Status(Client().Get("/state")), 200);
}

TEST_F(DashboardServerTest, ListeningSocketIsNotInheritedByWorkerProcesses) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(server_->ListeningSocket()));
    std::string key;
    std::string flags;
    while (info >> key && key != "flags:") {
    }
    info >> flags;
    ASSERT_FALSE(flags.empty());
    EXPECT_NE(std::stoul(flags, nullptr, 8) & O_CLOEXEC, 0u) << "flags " << flags;
}

// A crowd beyond the limit is answered 503 at once and never costs a thread;
// those served keep their stream. The crowd is answered well within its
// deadline: a connection the accept queue drops is retried a second later,
// and a refused one held open would keep a refusing thread for seconds.
TEST_F(DashboardServerTest, ManyClientsAtOnceAreBoundedAndThoseServedAreUnharmed) {
    const int threadsServing = ThreadsOfThisProcess();  // all there once Start returns
    const std::size_t limit = DashboardServer::Limits{}.clients;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<RawClient>(port_));
        ASSERT_TRUE(clients.back()->Get("/events", port_)) << "client " << i;
    }
    std::size_t streaming = 0;
    std::size_t refused = 0;
    for (auto& client : clients) {
        ASSERT_TRUE(client->ReadUntil("\r\n\r\n", deadline - Clock::now()));
        if (client->Received().rfind("HTTP/1.1 200", 0) == 0) {
            EXPECT_TRUE(client->ReadUntil("event: snapshot", deadline - Clock::now()));
            ++streaming;
        } else if (client->Received().rfind("HTTP/1.1 503", 0) == 0) {
            ++refused;
        }
    }
    EXPECT_EQ(streaming, limit);
    EXPECT_EQ(refused, 200 - limit);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsServing);
    server_->Apply({{"event", "arrived"}, {"slot", "B1"}, {"serial", "QC-after-crowd"}});
    for (auto& client : clients) {
        if (client->Received().rfind("HTTP/1.1 200", 0) == 0) {
            EXPECT_TRUE(client->ReadUntil("QC-after-crowd", deadline - Clock::now()));
        }
    }
    clients.clear();
    // Once the crowd has gone, its places are free again.
    EXPECT_TRUE(WaitFor([&] { return server_->OpenStreams() == 0; }));
    EXPECT_EQ(Status(Client().Get("/state")), 200);
}

TEST_F(DashboardServerTest, AStreamLeftUnreadIsDroppedWhileOthersGetEveryChangePromptly) {
    RawClient reader(port_);
    ASSERT_TRUE(reader.Get("/events", port_));
    ASSERT_TRUE(reader.ReadUntil("event: snapshot"));
    RawClient stalled(port_, 4096);
    ASSERT_TRUE(stalled.Get("/events", port_));
    ASSERT_TRUE(WaitFor([&] { return server_->OpenStreams() == 2; }));
    EXPECT_TRUE(reader.ReadUntil(": heartbeat"));

    // Long lines at a steady pace, read by one page and not the other.
    std::atomic<bool> reading{true};
    std::thread drain([&] {
        while (reading && !reader.Closed()) {
            reader.ReadUntil("never sent", std::chrono::milliseconds(100));
            reader.Forget();
        }
    });
    const std::string longLine(8000, 'x');
    auto next = Clock::now();
    for (int event = 0; event < 5000 && server_->DroppedStreams() == 0; ++event) {
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
        server_->Apply({{"event", "line"}, {"slot", "A1"}, {"text", longLine + std::to_string(event)}});
    }
    reading = false;
    drain.join();
    EXPECT_EQ(server_->DroppedStreams(), 1u);
    server_->Apply({{"event", "line"}, {"slot", "A1"}, {"text", "after the drop"}});
    EXPECT_TRUE(reader.ReadUntil("after the drop"));
    EXPECT_FALSE(reader.Closed());
    EXPECT_TRUE(WaitFor([&] { return server_->OpenStreams() == 1; }));
}

TEST_F(DashboardServerTest, StopEndsOpenStreams) {
    RawClient reader(port_);
    ASSERT_TRUE(reader.Get("/events", port_));
    ASSERT_TRUE(reader.ReadUntil("event: snapshot"));
    server_->Stop();
    EXPECT_FALSE(reader.ReadUntil("never sent"));
    EXPECT_TRUE(reader.Closed());
}

}  // namespace
