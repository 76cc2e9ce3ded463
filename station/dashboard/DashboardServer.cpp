#include "station/dashboard/DashboardServer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <httplib.h>

#include "DashboardPage.h"  // generated from page/ at build time
#include "platform/net/ListeningSocket.h"

namespace quorl::dashboard {

namespace {

using nlohmann::json;

// Text from a unit's output may hold any bytes: never let a stray one stop a
// snapshot from being served.
std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string ServerSentEvent(const char* name, const json& data) {
    return std::string("event: ") + name + "\ndata: " + Dump(data) + "\n\n";
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Set on the threads that only answer 503: the connection came when every
// serving thread was taken.
thread_local bool tlsRefusing = false;

// The connections' threads: a fixed set serves, a small fixed set refuses
// what comes beyond them, so a crowd of browsers never multiplies threads
// and never delays those already served.
class BoundedTaskQueue : public httplib::TaskQueue {
public:
    // Tells through ready once every thread is there to take a connection.
    BoundedTaskQueue(std::size_t serving, std::size_t refusing, std::atomic<bool>& ready)
        : servingLimit_(serving) {
        for (std::size_t i = 0; i < serving; ++i) {
            threads_.emplace_back([this] { Work(serve_, false); });
        }
        for (std::size_t i = 0; i < refusing; ++i) {
            threads_.emplace_back([this] { Work(refuse_, true); });
        }
        ready = true;
    }

    // Runs on the accepting thread: it wakes one thread of the set that
    // takes the connection, rather than every thread for each connection
    // of a crowd while the accepting thread waits its turn.
    void enqueue(std::function<void()> fn) override {
        Jobs* jobs = &refuse_;
        {
            std::lock_guard lock(mutex_);
            if (inService_ < servingLimit_) {
                ++inService_;
                jobs = &serve_;
            }
            jobs->waiting.push_back(std::move(fn));
        }
        jobs->ready.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            shuttingDown_ = true;
        }
        serve_.ready.notify_all();
        refuse_.ready.notify_all();
        for (auto& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

private:
    struct Jobs {
        std::deque<std::function<void()>> waiting;
        std::condition_variable ready;
    };

    void Work(Jobs& jobs, bool refusing) {
        tlsRefusing = refusing;
        std::unique_lock lock(mutex_);
        while (true) {
            jobs.ready.wait(lock, [&] { return !jobs.waiting.empty() || shuttingDown_; });
            if (jobs.waiting.empty()) {
                return;  // shutting down, and every accepted socket has been answered
            }
            auto job = std::move(jobs.waiting.front());
            jobs.waiting.pop_front();
            lock.unlock();
            job();  // answers the connection and closes its socket
            lock.lock();
            if (!refusing) {
                --inService_;
            }
        }
    }

    const std::size_t servingLimit_;
    std::mutex mutex_;
    Jobs serve_;
    Jobs refuse_;
    std::size_t inService_ = 0;
    bool shuttingDown_ = false;
    std::vector<std::thread> threads_;
};

constexpr std::size_t kRefusingThreads = 2;

constexpr const char* kHeadersTooLarge = "Request headers too large.\n";

// One page's event stream: messages wait here until its thread writes them.
struct Stream {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> queue;
    bool ended = false;  // dropped for falling behind, or the server is stopping
};

}  // namespace

struct DashboardServer::Impl {
    Impl(BenchBoard& b, Limits l) : board(b), limits(l) {}

    BenchBoard& board;
    const Limits limits;
    httplib::Server server;
    std::thread listener;
    std::string host;
    int port = 0;
    std::atomic<long long> listeningSocket{-1};
    std::atomic<bool> threadsReady{false};
    std::atomic<bool> stopping{false};

    // Held while applying an event and sending its change, and while a new
    // stream takes its snapshot, so that each stream gets every change after
    // its snapshot exactly once.
    mutable std::mutex publishing;
    std::set<std::shared_ptr<Stream>> streams;
    std::size_t dropped = 0;

    void Send(const std::string& message) {
        for (const auto& stream : streams) {
            std::lock_guard lock(stream->mutex);
            if (stream->ended) {
                continue;
            }
            if (stream->queue.size() >= limits.queuedMessages) {
                // Never wait for a browser: this one reconnects and starts over
                // from a snapshot.
                stream->ended = true;
                stream->queue.clear();
                ++dropped;
            } else {
                stream->queue.push_back(message);
            }
            stream->wake.notify_one();
        }
    }

    bool HostAllowed(const httplib::Request& request) const {
        const std::string given = Lowercase(request.get_header_value("Host"));
        const std::string suffix = ":" + std::to_string(port);
        auto withBrackets = [](const std::string& address) {
            return address.find(':') != std::string::npos ? "[" + address + "]" : address;
        };
        for (const std::string name : {"localhost", "127.0.0.1"}) {
            if (given == name || given == name + suffix) {
                return true;
            }
        }
        // The address this connection came in on, as an address: no name that
        // another site's DNS could point here.
        return given == Lowercase(withBrackets(host)) + suffix ||
               given == Lowercase(withBrackets(request.local_addr)) + suffix;
    }

    std::size_t HeaderBytes(const httplib::Request& request) const {
        std::size_t total = request.method.size() + request.target.size() + request.version.size() + 4;
        for (const auto& [name, value] : request.headers) {
            total += name.size() + value.size() + 4;
        }
        return total;
    }

    httplib::Server::HandlerResponse Screen(const httplib::Request& request, httplib::Response& response) {
        auto refuse = [&](int status, const char* text) {
            response.status = status;
            response.set_header("Connection", "close");
            response.set_content(text, "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        };
        if (tlsRefusing) {
            response.set_header("Retry-After", "5");
            return refuse(503, "Too many connections to this bench's page.\n");
        }
        if (HeaderBytes(request) > limits.headerBytes) {
            return refuse(431, kHeadersTooLarge);
        }
        if (!HostAllowed(request)) {
            return refuse(421, "This bench's page is served under its own address only.\n");
        }
        if (request.method != "GET" && request.method != "HEAD") {
            response.set_header("Allow", "GET, HEAD");
            return refuse(405, "This page is read-only.\n");
        }
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; connect-src 'self'; img-src 'self' data:; "
                            "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
        response.set_header("Referrer-Policy", "no-referrer");
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void ServeEvents(httplib::Response& response) {
        auto stream = std::make_shared<Stream>();
        {
            std::lock_guard lock(publishing);
            // The page reconnects 2 s after a drop; its first message replaces everything.
            stream->queue.push_back("retry: 2000\n" + ServerSentEvent("snapshot", board.Snapshot()));
            streams.insert(stream);
        }
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) { return Pump(*stream, sink); },
            [this, stream](bool) {
                std::lock_guard lock(publishing);
                streams.erase(stream);
            });
    }

    // Writes what waits for one stream; a comment when nothing came for a
    // heartbeat, so that proxies and the page see the stream is alive.
    bool Pump(Stream& stream, httplib::DataSink& sink) {
        std::deque<std::string> messages;
        {
            std::unique_lock lock(stream.mutex);
            stream.wake.wait_for(lock, limits.heartbeat, [&] {
                return !stream.queue.empty() || stream.ended || stopping.load();
            });
            if (stream.ended || stopping.load()) {
                return false;
            }
            messages.swap(stream.queue);
        }
        if (messages.empty()) {
            messages.push_back(": heartbeat\n\n");
        }
        for (const auto& message : messages) {
            if (!sink.write(message.data(), message.size())) {
                return false;
            }
        }
        return true;
    }

    void Route() {
        server.new_task_queue = [this] {
            return new BoundedTaskQueue(limits.clients, kRefusingThreads, threadsReady);
        };
        server.set_socket_options([this](socket_t socket) {
            platform::PrepareListeningSocket(static_cast<std::uintptr_t>(socket));
            listeningSocket = static_cast<long long>(socket);
        });
        server.set_payload_max_length(limits.headerBytes);
        // One request a connection: httplib keeps a connection open for the
        // next request whatever the response says, so a refused client that
        // stays connected would hold a refusing thread (and an idle browser
        // a serving place) until the keep-alive ran out. A page's handful of
        // requests on loopback costs nothing more this way. The first
        // request is waited for no longer than the keep-alive time, each
        // read and write no longer than its timeout.
        server.set_keep_alive_max_count(1);
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(3, 0);
        server.set_write_timeout(3, 0);
        server.set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) { return Screen(request, response); });
        // httplib answers 400 itself when a header line is longer than it
        // takes (8 KiB) after a request line it understood (it sets the
        // path last): say why.
        server.set_error_handler(httplib::Server::HandlerWithResponse(
            [](const httplib::Request& request, httplib::Response& response) {
                if (response.status != 400 || request.path.empty()) {
                    return httplib::Server::HandlerResponse::Unhandled;
                }
                response.status = 431;
                response.set_content(kHeadersTooLarge, "text/plain; charset=utf-8");
                return httplib::Server::HandlerResponse::Handled;
            }));
        auto file = [this](const char* path, const char* body, const char* type) {
            server.Get(path, [body, type](const httplib::Request&, httplib::Response& response) {
                response.set_content(body, type);
            });
        };
        file("/", page::kIndexHtml, "text/html; charset=utf-8");
        file("/style.css", page::kStyleCss, "text/css; charset=utf-8");
        file("/app.js", page::kAppJs, "text/javascript; charset=utf-8");
        server.Get("/state", [this](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-store");
            response.set_content(Dump(board.Snapshot()), "application/json");
        });
        server.Get("/records.jsonl", [this](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-store");
            response.set_content(board.RecordsJsonLines(), "application/jsonl; charset=utf-8");
        });
        server.Get("/events", [this](const httplib::Request&, httplib::Response& response) { ServeEvents(response); });
    }
};

DashboardServer::DashboardServer(BenchBoard& board) : DashboardServer(board, Limits{}) {}

DashboardServer::DashboardServer(BenchBoard& board, Limits limits)
    : impl_(std::make_unique<Impl>(board, limits)) {
    impl_->Route();
}

DashboardServer::~DashboardServer() {
    Stop();
}

bool DashboardServer::Start(const DashboardAddress& address, std::string& error) {
    impl_->host = address.host;
    if (address.port == 0) {
        impl_->port = impl_->server.bind_to_any_port(address.host);
    } else {
        impl_->port = impl_->server.bind_to_port(address.host, address.port) ? address.port : -1;
    }
    if (impl_->port <= 0) {
        error = "cannot serve the dashboard at " + DashboardUrl(address.host, address.port) +
                " (is the port in use, or the address not this computer's?)";
        return false;
    }
    // Once more now that it listens: the queue of connections waiting to be
    // accepted made as long as the system allows, so that a crowd of
    // browsers is answered at once rather than retried a second later.
    platform::PrepareListeningSocket(static_cast<std::uintptr_t>(impl_->listeningSocket.load()));
    impl_->listener = std::thread([this] { impl_->server.listen_after_bind(); });
    // A Stop() before the thread is listening would find nothing to stop; and
    // a connection before the connections' threads are there would wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(impl_->server.is_running() && impl_->threadsReady) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int DashboardServer::Port() const {
    return impl_->port;
}

long long DashboardServer::ListeningSocket() const {
    return impl_->listeningSocket.load();
}

void DashboardServer::Apply(const nlohmann::json& event) {
    std::lock_guard lock(impl_->publishing);
    const json change = impl_->board.Apply(event);
    if (!change.is_null()) {
        impl_->Send(ServerSentEvent("change", change));
    }
}

std::size_t DashboardServer::DroppedStreams() const {
    std::lock_guard lock(impl_->publishing);
    return impl_->dropped;
}

std::size_t DashboardServer::OpenStreams() const {
    std::lock_guard lock(impl_->publishing);
    return impl_->streams.size();
}

void DashboardServer::Stop() {
    if (impl_->stopping.exchange(true)) {
        return;
    }
    {
        std::lock_guard lock(impl_->publishing);
        for (const auto& stream : impl_->streams) {
            std::lock_guard streamLock(stream->mutex);
            stream->wake.notify_all();
        }
    }
    impl_->server.stop();
    if (impl_->listener.joinable()) {
        impl_->listener.join();
    }
}

}  // namespace quorl::dashboard
