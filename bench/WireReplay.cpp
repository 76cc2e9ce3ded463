#include "bench/WireReplay.h"

#include <algorithm>
#include <array>

#include <hidapi/hidapi.h>

namespace {

// Report ID and the 64-byte report, as the tool frames every transfer.
using Frame = std::array<unsigned char, 65>;
constexpr int kStatusTimeoutMs = 100;

bool Same(const Frame& frame, std::size_t offset, int count, const sim::Bytes& expected) {
    return count >= 0 && static_cast<std::size_t>(count) == expected.size() + offset &&
           std::equal(expected.begin(), expected.end(), frame.begin() + static_cast<long>(offset));
}

}  // namespace

std::vector<sim::WireRecord> RecordTraffic(const PlugIn& plugIn, const std::function<bool()>& run) {
    sim::World& world = sim::World::Get();
    world.Reset();
    world.stderrIsTerminal = false;
    plugIn(world);
    std::vector<sim::WireRecord> traffic;
    if (run() && !world.devices.empty()) {
        traffic = world.devices.front()->wire;
    }
    world.Reset();
    return traffic;
}

bool ReplayTraffic(const std::vector<sim::WireRecord>& traffic, const sim::SimDevice& device) {
    hid_device* handle = hid_open(device.vendorId, device.productId, nullptr);
    if (handle == nullptr) {
        return false;
    }
    sim::World& world = sim::World::Get();
    bool same = true;
    for (const sim::WireRecord& record : traffic) {
        // The tool's pauses before this transfer, as one pause: virtual time
        // moving is the simulator's work too.
        if (record.timeMs > world.NowMs()) {
            world.Sleep(static_cast<std::uint32_t>(record.timeMs - world.NowMs()));
        }
        Frame frame{};
        int count = -1;
        switch (record.transfer) {
            case sim::Transfer::SetFeature:
                std::copy(record.bytes.begin(), record.bytes.end(), frame.begin() + 1);
                count = hid_send_feature_report(handle, frame.data(), frame.size());
                same = same && (count == static_cast<int>(frame.size())) == record.ok;
                break;
            case sim::Transfer::GetFeature:
                count = hid_get_feature_report(handle, frame.data(), frame.size());
                same = same && (record.ok ? Same(frame, 1, count, record.bytes) : count < 0);
                break;
            case sim::Transfer::Read:
                count = hid_read_timeout(handle, frame.data(), frame.size(), kStatusTimeoutMs);
                same = same && Same(frame, 0, count, record.bytes);
                break;
            case sim::Transfer::Write:
                std::copy(record.bytes.begin(), record.bytes.end(), frame.begin() + 1);
                count = hid_write(handle, frame.data(), frame.size());
                same = same && (count >= 0) == record.ok;
                break;
        }
    }
    hid_close(handle);
    return same;
}
