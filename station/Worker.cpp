#include "station/Worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Dispatcher.h"
#include "device/UnitLimit.h"
#include "devices/DeviceSurvey.h"
#include "platform/Platform.h"
#include "platform/console/TransferProgress.h"
#include "station/WorkerProtocol.h"

namespace {

// The tool's program name, as the usage text and scripts know it.
constexpr const char* kToolName = "QuorlFirmwareUpdateApp";
// After the command, how long the unit may take to show again at its port
// (a controller restarting into its application), looked for this often.
constexpr std::uint32_t kComeBackWaitMs = 10000;
constexpr std::uint32_t kComeBackPollMs = 100;
// Progress goes to the station at most this often, and always at the end.
constexpr auto kProgressInterval = std::chrono::milliseconds(200);

void Send(const WorkerEvent& event) {
    const std::string line = EncodeEvent(event) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// One of the command's streams, framed into whole lines for the station. A
// flush inside a line (a "." mark) tells the station the unit is alive.
class LineFramer : public std::streambuf {
public:
    explicit LineFramer(WorkerEvent::Kind kind) : kind(kind) {}
    ~LineFramer() override { Finish(); }

    // A line the command left open goes out as it stands.
    void Finish() {
        if (!pending.empty()) {
            Send({kind, pending});
            pending.clear();
        }
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        if (traits_type::to_char_type(c) == '\n') {
            Send({kind, pending});
            pending.clear();
        } else {
            pending += traits_type::to_char_type(c);
        }
        return c;
    }
    int sync() override {
        if (!pending.empty()) {
            Send({WorkerEvent::Kind::Activity, {}});
        }
        return 0;
    }

private:
    WorkerEvent::Kind kind;
    std::string pending;
};

void PassOnProgress(std::uint64_t done, std::uint64_t total) {
    static auto last = std::chrono::steady_clock::time_point{};
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last < kProgressInterval) {
        return;
    }
    last = now;
    WorkerEvent event{WorkerEvent::Kind::Progress, {}, done, total};
    Send(event);
}

std::vector<ListedDevice> DevicesAt(const std::string& port) {
    std::vector<ListedDevice> found;
    for (ListedDevice& device : SurveyFamilyDevices(AccessTest::None)) {
        if (device.port == port) {
            found.push_back(std::move(device));
        }
    }
    return found;
}

// A unit that restarts comes back at its port after a while: the worker
// waits for it, then says what it is now. A device that shows instead at a
// port where no unit sat at the start is the unit, come back at another port.
nlohmann::json FactsAfter(const StationOptions& options) {
    nlohmann::json facts = nlohmann::json::object();
    std::vector<ListedDevice> now = DevicesAt(options.unitPort);
    for (std::uint32_t waited = 0; now.empty() && waited < kComeBackWaitMs;
         waited += kComeBackPollMs) {
        platform::SleepMs(kComeBackPollMs);
        now = DevicesAt(options.unitPort);
    }
    if (!now.empty()) {
        const ListedDevice& device = now.front();
        facts["productIdAfter"] = device.productId;
        facts["releaseAfter"] = device.release;
        facts["serialAfter"] = device.serialNumber;
    } else {
        // Only a port where no unit sat at the start: serial numbers of
        // units fresh from the factory may all be the same.
        for (const ListedDevice& device : SurveyFamilyDevices(AccessTest::None)) {
            if (!device.port.empty() &&
                std::find(options.portsAtStart.begin(), options.portsAtStart.end(), device.port) ==
                    options.portsAtStart.end()) {
                facts["cameBackAt"] = device.port;
                break;
            }
        }
    }
    if (const std::optional<std::string> refusal = UnitRefusal()) {
        facts["refusal"] = *refusal;
    }
    const UnitSightings& seen = UnitDevicesSeen();
    facts["productIdsSeen"] = seen.productIds;
    facts["serialsSeen"] = seen.serialNumbers;
    return facts;
}

}  // namespace

int RunWorker(const StationOptions& options) {
    LimitDevicesToUnit({options.unitPort, options.unitSerial, options.portsAtStart});
    LineFramer output(WorkerEvent::Kind::Output);
    LineFramer error(WorkerEvent::Kind::Error);
    std::streambuf* const originalOutput = std::cout.rdbuf(&output);
    std::streambuf* const originalError = std::cerr.rdbuf(&error);
    ObserveTransfers(PassOnProgress);

    std::vector<const char*> words = {kToolName};
    for (const std::string& word : options.words) {
        words.push_back(word.c_str());
    }
    const int status = RunApp(static_cast<int>(words.size()), words.data(), options.edition);

    ObserveTransfers(nullptr);
    std::cout.flush();
    std::cerr.flush();
    output.Finish();
    error.Finish();
    std::cout.rdbuf(originalOutput);
    std::cerr.rdbuf(originalError);
    WorkerEvent facts{WorkerEvent::Kind::Facts, {}};
    facts.text = FactsAfter(options).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    Send(facts);
    return status;
}
