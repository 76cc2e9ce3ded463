#include "sim/SimWorld.h"

#include <algorithm>
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

std::size_t SimUsbEntry::UsbPort() const { return owner != nullptr ? owner->usbPort : usbPort; }

World& World::Get() {
    static World world;
    return world;
}

void World::Reset() {
    devices.clear();
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
}

SimDevice* World::FindPresent(std::uint16_t vendorId, std::uint16_t productId) {
    for (auto& device : devices) {
        if (Enumerates(*device) && device->vendorId == vendorId && device->productId == productId) {
            return device.get();
        }
    }
    return nullptr;
}

std::string World::UsbPortName(std::size_t port) {
    return port == 0 ? std::string() : Host().usbPortName(port);
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
