// A wired controller with its SWD probe on the simulated bus, and the SWD
// requests it took, decoded, for transcripts of radio programming.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "sim/ControllerModel.h"
#include "sim/SwdProbeModel.h"
#include "sim/SimWorld.h"

struct SwdBench {
    sim::ControllerModel& controller;
    sim::SwdProbeModel& probe;
};

inline SwdBench PlugSwdController(sim::World& world) {
    auto& controller = world.Add<sim::ControllerModel>();
    return {controller, *controller.swdProbe};
}

// One request as the controller took it: code, address (if any) and the
// count of data bytes of a write.
struct SwdRequest {
    std::uint8_t code;
    std::uint32_t address = 0;
    std::size_t length = 0;
    bool operator==(const SwdRequest&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SwdRequest& request) {
    return out << std::hex << "{0x" << int(request.code) << ", 0x" << request.address << ", "
               << std::dec << request.length << "}";
}

inline std::vector<SwdRequest> TakenRequests(const sim::SimDevice& device) {
    std::vector<SwdRequest> requests;
    for (const sim::Bytes& report : device.SentReports()) {
        SwdRequest request{report[0]};
        const bool addressed = report[0] == 0xC7 || report[0] == 0xC8 || report[0] == 0xC9;
        if (addressed) {
            request.address = static_cast<std::uint32_t>(report[2] | (report[3] << 8) |
                                                         (report[4] << 16)) |
                              (static_cast<std::uint32_t>(report[5]) << 24);
        }
        if (report[0] == 0xC7) {
            request.length = report[1] - 4u;
        }
        requests.push_back(request);
    }
    return requests;
}

constexpr std::uint8_t kSwdStartCode = 0xC6;
constexpr std::uint8_t kSwdWriteCode = 0xC7;
constexpr std::uint8_t kSwdEraseSectorCode = 0xC9;
constexpr std::uint8_t kSwdEraseChipCode = 0xCA;
constexpr std::uint8_t kSwdEndCode = 0xCB;
constexpr std::uint8_t kRestartCode = 0x95;
