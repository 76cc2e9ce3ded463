#include "devices/DeviceWatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <tuple>
#include <vector>

#include "devices/DeviceSurvey.h"
#include "devices/ListingJson.h"
#include "devices/ListingText.h"
#include "platform/process/WorkerProcess.h"
#include "platform/usb/UsbWatch.h"

namespace {

std::atomic<int> stopRequests{0};
void OnStopRequest() { stopRequests.fetch_add(1); }

// How long a wait lasts before the stop flag is looked at again, should the
// watch not end its wait when a stop request arrives.
constexpr auto kStopCheck = std::chrono::milliseconds(250);

// What tells one listed device from another across two surveys.
auto Identity(const ListedDevice& device) {
    return std::tie(device.path, device.port, device.vendorId, device.productId,
                    device.serialNumber);
}

bool Listed(const std::vector<ListedDevice>& devices, const ListedDevice& device) {
    return std::any_of(devices.begin(), devices.end(), [&](const ListedDevice& other) {
        return Identity(other) == Identity(device);
    });
}

void Print(const char* event, const ListedDevice& device, bool json) {
    if (json) {
        std::cout << DeviceEventJson(event, device) << std::endl;
        return;
    }
    const auto orNone = [](const std::string& text) { return text.empty() ? "-" : OnOneLine(text); };
    std::cout << event << "  " << orNone(device.port) << "  " << DeviceWhat(device.what)
              << "  serial " << orNone(device.serialNumber) << std::endl;
}

// Removals first, in the order the last survey had them, then arrivals.
void PrintChanges(const std::vector<ListedDevice>& before, const std::vector<ListedDevice>& now,
                  bool json) {
    for (const ListedDevice& device : before) {
        if (!Listed(now, device)) {
            Print("removed", device, json);
        }
    }
    for (const ListedDevice& device : now) {
        if (!Listed(before, device)) {
            Print("arrived", device, json);
        }
    }
}

}  // namespace

int WatchDevices(bool json) {
    using Clock = platform::UsbWatch::Clock;
    stopRequests = 0;
    platform::OnStopRequest(OnStopRequest);
    // Opened before the first survey, so that nothing that comes between is missed.
    const std::unique_ptr<platform::UsbWatch> watch = platform::UsbWatch::Open();
    std::vector<ListedDevice> present = SurveyFamilyDevices(AccessTest::None);
    PrintChanges({}, present, json);
    while (stopRequests.load() == 0) {
        if (watch->WaitForChange(Clock::now() + kStopCheck)) {
            std::vector<ListedDevice> now = SurveyFamilyDevices(AccessTest::None);
            PrintChanges(present, now, json);
            present = std::move(now);
        }
    }
    platform::StopRequestServed();
    return 0;
}
