// dashboard-demo: the bench's page over a scripted run of eight units on a
// 2 x 4 bench, for looking at the page and for the browser test. It serves at
// once and plays the run when a line "go" comes on standard input, one event
// per pace.
//
//   dashboard-demo [--port PORT] [--pace-ms MS]
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/dashboard/BenchBoard.h"
#include "station/dashboard/DashboardServer.h"

namespace {

using nlohmann::json;
using quorl::dashboard::BenchBoard;
using quorl::dashboard::DashboardServer;

const std::vector<std::string> kSlots = {"A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"};
const std::string kFailingSlot = "B3";

std::vector<json> Script() {
    std::vector<json> events;
    for (std::size_t i = 0; i < kSlots.size(); ++i) {
        events.push_back({{"event", "arrived"}, {"slot", kSlots[i]},
                          {"serial", "QC" + std::to_string(2417001 + i)}, {"release", "1.4.0"}});
    }
    for (const auto& slot : kSlots) {
        events.push_back({{"event", "started"}, {"slot", slot}, {"phase", "bootloader"}});
    }
    for (int percent = 20; percent <= 80; percent += 20) {
        for (const auto& slot : kSlots) {
            if (slot == kFailingSlot && percent > 60) {
                continue;
            }
            events.push_back({{"event", "progress"}, {"slot", slot}, {"percent", percent},
                              {"phase", "writing"}, {"elapsed_s", percent / 2}});
            events.push_back({{"event", "line"}, {"slot", slot},
                              {"text", "Writing block " + std::to_string(percent * 3) + " of 300"}});
        }
    }
    for (const auto& slot : kSlots) {
        if (slot == kFailingSlot) {
            events.push_back({{"event", "ended"}, {"slot", slot}, {"result", "FAIL"},
                              {"reason", "checksum mismatch after write"}, {"elapsed_s", 31}});
        } else {
            events.push_back({{"event", "ended"}, {"slot", slot}, {"result", "PASS"},
                              {"release", "1.5.2"}, {"elapsed_s", 47}});
        }
    }
    events.push_back({{"event", "counters"}, {"units_per_hour", 96}});
    events.push_back({{"event", "notice"}, {"level", "warning"},
                      {"text", "B3 failed: set the unit aside for inspection"}});
    return events;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    int paceMs = 150;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--port") {
            port = std::atoi(argv[i + 1]);
        } else if (option == "--pace-ms") {
            paceMs = std::atoi(argv[i + 1]);
        }
    }
    quorl::dashboard::BenchSetup setup;
    setup.name = "Bench 3";
    setup.command = {"controller_v1.5.2.bin"};
    setup.images = {{"controller_v1.5.2.bin", "9f2c4e1a7b3d5e6f0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f6071"}};
    setup.version = "quorl-station 1.0.0";
    setup.columns = 4;
    setup.slots = kSlots;
    BenchBoard board(setup);
    DashboardServer server(board);
    quorl::dashboard::DashboardAddress address;
    address.port = port;
    std::string error;
    if (!server.Start(address, error)) {
        std::cerr << error << std::endl;
        return 1;
    }
    std::cout << quorl::dashboard::DashboardUrl(address.host, server.Port()) << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line != "go") {
            continue;
        }
        auto next = std::chrono::steady_clock::now();
        for (const auto& event : Script()) {
            next += std::chrono::milliseconds(paceMs);
            std::this_thread::sleep_until(next);
            server.Apply(event);
        }
        std::cout << "played" << std::endl;
    }
    // Standard input closed: serve until stopped by a signal.
    while (true) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
