#include "sim/SimWorld.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <thread>

#include "sim/HostConventions.h"

namespace sim {

SimDevice::SimDevice(std::uint16_t vendorId, std::uint16_t productId, std::string name)
    : vendorId(vendorId), productId(productId), name(std::move(name)) {}

bool SimDevice::OnSetFeature(const Bytes&) { return true; }
std::optional<Bytes> SimDevice::OnGetFeature() { return std::nullopt; }
bool SimDevice::OnWrite(const Bytes&) { return true; }
std::optional<Bytes> SimDevice::TakeInputReport() { return std::nullopt; }

std::string SimDevice::Path(std::size_t collection) const {
    return Host().hidPath(vendorId, productId, busPlace, collection, Descriptor().usages.size());
}

void SimDevice::Unplug() {
    present = false;
    ++generation;
    reappearAt.reset();
}

void SimDevice::Plug() {
    present = true;
    reappearAt.reset();
}

void SimDevice::TakeRestartPort() {
    if (comesBackAtPort) {
        usbPort = *comesBackAtPort;
        comesBackAtPort.reset();
    }
}

void SimDevice::ReenumerateAt(std::uint64_t timeMs, std::uint16_t newProductId) {
    Unplug();
    TakeRestartPort();
    reappearAt = timeMs;
    reappearProductId = newProductId;
}

void SimDevice::Record(Transfer transfer, const Bytes& bytes, bool ok) {
    ++transfers;
    if (!World::Get().boundedMemory) {
        wire.push_back({World::Get().NowMs(), transfer, bytes, ok});
    }
}

std::vector<Bytes> SimDevice::SentReports(std::optional<std::uint8_t> code) const {
    std::vector<Bytes> reports;
    for (const WireRecord& record : wire) {
        if (record.transfer == Transfer::SetFeature && record.ok &&
            (!code || (!record.bytes.empty() && record.bytes[0] == *code))) {
            reports.push_back(record.bytes);
        }
    }
    return reports;
}

HubPort SimUsbEntry::UsbPort() const { return owner != nullptr ? owner->usbPort : usbPort; }

World& World::Get() {
    static World world;
    return world;
}

void World::Reset() {
    devices.clear();
    removed.clear();
    unitsWithSerial.clear();
    usbEntries.clear();
    serialWrites.clear();
    nowMs = 0;
    pauses.clear();
    pauseCount = 0;
    pausedMs = 0;
    boundedMemory = false;
    realTime = false;
    openAttempts.clear();
    liveHandles = 0;
    failedTransfers = 0;
    enumerations = 0;
    presenceChecks = 0;
    stderrIsTerminal.reset();
    errnoWithheld = false;
    terminalColumns = 80;
    hostController.clear();
}

SimDevice* World::FindPresent(std::uint16_t vendorId, std::uint16_t productId) {
    for (auto& device : devices) {
        if (Enumerates(*device) && device->vendorId == vendorId && device->productId == productId) {
            return device.get();
        }
    }
    return nullptr;
}

namespace {

constexpr std::size_t kMaxHubPort = 255;
constexpr unsigned kHubPortBits = 8;
// USB allows five hubs between the controller and a device: six ports.
constexpr std::size_t kMaxHubChain = std::min<std::size_t>(6, sizeof(HubPort));

}  // namespace

std::optional<HubPort> ParseHubPort(const std::string& text) {
    HubPort port = 0;
    std::size_t hubs = 0;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (;;) {
        std::size_t number = 0;
        const auto [next, error] = std::from_chars(at, end, number);
        if (error != std::errc() || number < 1 || number > kMaxHubPort || ++hubs > kMaxHubChain) {
            return std::nullopt;
        }
        port = (port << kHubPortBits) | number;
        if (next == end) {
            return port;
        }
        if (*next != '.') {
            return std::nullopt;
        }
        at = next + 1;
    }
}

std::vector<std::size_t> HubPortChain(HubPort port) {
    std::vector<std::size_t> chain;
    for (; port != 0; port >>= kHubPortBits) {
        chain.insert(chain.begin(), port & kMaxHubPort);
    }
    return chain;
}

std::string HubPortText(HubPort port) {
    std::string text;
    for (const std::size_t hubPort : HubPortChain(port)) {
        text += (text.empty() ? "" : ".") + std::to_string(hubPort);
    }
    return text;
}

std::string NotAHubPort(const std::string& text) {
    return "\"" + text + "\" is not a hub port: a port number from 1 to 255, or up to six of "
           "them joined by dots for a port behind hubs, such as 1.2.3";
}

std::size_t World::FreeBusPlace() const {
    std::vector<bool> taken(devices.size(), false);
    for (const auto& device : devices) {
        if (device->busPlace < taken.size()) {
            taken[device->busPlace] = true;
        }
    }
    return static_cast<std::size_t>(std::find(taken.begin(), taken.end(), false) - taken.begin());
}

void World::RemoveAtPort(HubPort port) {
    for (auto& entry : usbEntries) {
        if (entry->UsbPort() == port) {
            entry->listed = false;
        }
    }
    const auto atPort = std::stable_partition(devices.begin(), devices.end(), [port](const auto& device) {
        return device->usbPort != port;
    });
    for (auto device = atPort; device != devices.end(); ++device) {
        (*device)->Unplug();
        removed.push_back(std::move(*device));
    }
    devices.erase(atPort, devices.end());
}

std::string World::UsbPortName(HubPort port) {
    if (port == 0) {
        return {};
    }
    const std::string& controller = Get().hostController;
    return Host().usbPortName(controller.empty() ? Host().hostController : controller,
                              HubPortChain(port));
}

void World::TakeNodeSwap(SimDevice& device) {
    if (!device.swapsNodeWithPort) {
        return;
    }
    const HubPort port = *device.swapsNodeWithPort;
    device.swapsNodeWithPort.reset();
    for (auto& other : devices) {
        if (other.get() != &device && other->usbPort == port) {
            std::swap(device.busPlace, other->busPlace);
            return;
        }
    }
}

SimDevice* World::FindByPath(const std::string& path, std::size_t& collection) {
    for (auto& device : devices) {
        if (!Enumerates(*device)) {
            continue;
        }
        for (collection = 0; collection < device->Descriptor().usages.size(); ++collection) {
            if (device->Path(collection) == path) {
                return device.get();
            }
        }
    }
    return nullptr;
}

void World::Tick() {
    for (auto& device : devices) {
        if (device->reappearAt && nowMs >= *device->reappearAt) {
            device->productId = device->reappearProductId;
            device->Plug();
        }
        device->OnTime(nowMs);
    }
}

void World::Advance(std::uint64_t ms) {
    // Step through the interval so that models see every millisecond that
    // matters to them (a re-enumeration inside a long sleep, say).
    const std::uint64_t end = nowMs + ms;
    while (nowMs < end) {
        std::uint64_t step = end - nowMs;
        for (auto& device : devices) {
            if (device->reappearAt && *device->reappearAt > nowMs) {
                step = std::min(step, *device->reappearAt - nowMs);
            }
        }
        nowMs += step;
        Tick();
    }
    Tick();
}

void World::Sleep(std::uint32_t ms) {
    if (!boundedMemory) {
        pauses.push_back(ms);
    }
    ++pauseCount;
    pausedMs += ms;
    if (realTime) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    Advance(ms);
}

std::size_t World::OpenAttemptsFor(std::uint16_t productId) const {
    std::size_t count = 0;
    for (const OpenAttempt& attempt : openAttempts) {
        count += attempt.productId == productId ? 1 : 0;
    }
    return count;
}

SimUsbEntry& World::AddUsbEntry(SimUsbEntry entry) {
    usbEntries.push_back(std::make_unique<SimUsbEntry>(std::move(entry)));
    return *usbEntries.back();
}

std::string World::NextSerialPort() const {
    return Host().serialPortName(Host().firstSerialPort + usbEntries.size());
}

SimUsbEntry* World::FindSerialPort(const std::string& port) {
    for (auto& entry : usbEntries) {
        if (entry->listed && !entry->serialPort.empty() && entry->serialPort == port) {
            return entry.get();
        }
    }
    return nullptr;
}

void World::RecordOpen(std::uint16_t vendorId, std::uint16_t productId, bool opened) {
    openAttempts.push_back({nowMs, vendorId, productId, opened});
}

}  // namespace sim
