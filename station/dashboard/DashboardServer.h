#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "station/dashboard/BenchBoard.h"
#include "station/dashboard/DashboardAddress.h"

namespace quorl::dashboard {

// The bench's live page over HTTP, read-only. The station hands it its events
// (Apply); the HTTP threads only read the board under its lock and copy
// messages out of bounded queues, so a slow or stalled browser never holds
// the station up.
class DashboardServer {
public:
    struct Limits {
        std::size_t clients = 32;          // connections served at once; more get 503
        std::size_t queuedMessages = 256;  // per event stream; a stream this far behind is dropped
        std::size_t headerBytes = 8192;    // a request's line and headers together
        std::chrono::milliseconds heartbeat{15000};
    };

    explicit DashboardServer(BenchBoard& board);
    DashboardServer(BenchBoard& board, Limits limits);
    ~DashboardServer();
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // Binds and starts serving on a thread of its own. False with a reason
    // when the address cannot be bound (in use, not this computer's).
    bool Start(const DashboardAddress& address, std::string& error);
    int Port() const;
    // The listening socket, for checking that worker processes cannot inherit it.
    long long ListeningSocket() const;

    // One station event: applied to the board, its change sent to every page.
    void Apply(const nlohmann::json& event);

    // Event streams ended because their browser stopped reading.
    std::size_t DroppedStreams() const;
    std::size_t OpenStreams() const;

    // Ends every connection and the listening thread; returns once they are gone.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorl::dashboard
