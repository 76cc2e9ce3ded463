#include "station/Worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/CommandLine.h"
#include "app/Dispatcher.h"
#include "device/HidDevice.h"
#include "device/UnitLimit.h"
#include "devices/DeviceSurvey.h"
#include "platform/Platform.h"
#include "platform/console/Console.h"
#include "platform/files/Sha256.h"
#include "platform/process/PortClaim.h"
#include "platform/process/WorkerProcess.h"
#include "platform/console/TransferProgress.h"
#include "station/UnitRecord.h"
#include "station/WorkerProtocol.h"

namespace {

// The tool's program name, as the usage text and scripts know it.
constexpr const char* kToolName = "QuorlFirmwareUpdateApp";
// After the command, how long the unit may take to show again at its port
// (a controller restarting into its application), looked for this often.
constexpr std::uint64_t kComeBackWaitMs = 10000;
constexpr std::uint32_t kComeBackPollMs = 100;
// Progress goes to the station at most this often, and always at the end.
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
constexpr auto kAliveInterval = std::chrono::seconds(1);

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

// Every exchange with the unit tells the station the link is alive, at most
// once a second: a command may rightly print nothing for most of a minute.
void PassOnLinkActivity() {
    static auto last = std::chrono::steady_clock::time_point{};
    const auto now = std::chrono::steady_clock::now();
    if (now - last < kAliveInterval) {
        return;
    }
    last = now;
    Send({WorkerEvent::Kind::Activity, {}});
}

// A unit that restarts comes back at its port after a while: the worker
// waits for it (on the clock: a look at the bench takes time of its own),
// then says what it is now. A unit that does not come back fails; a device
// with its serial number at another port is named, and nothing else at
// another port is any concern of this unit's.
nlohmann::json FactsAfter(const StationOptions& options) {
    nlohmann::json facts = nlohmann::json::object();
    const std::uint64_t deadline = platform::MonotonicMs() + kComeBackWaitMs;
    std::vector<ListedDevice> now = SurveyFamilyDevices(AccessTest::None, options.unitPort);
    while (now.empty() && platform::MonotonicMs() < deadline) {
        platform::SleepMs(kComeBackPollMs);
        now = SurveyFamilyDevices(AccessTest::None, options.unitPort);
    }
    if (!now.empty()) {
        const ListedDevice& device = now.front();
        facts["productIdAfter"] = device.productId;
        facts["releaseAfter"] = device.release;
        facts["serialAfter"] = device.serialNumber;
    } else {
        facts["notBack"] = true;
        if (!options.unitSerial.empty()) {
            for (const ListedDevice& device : SurveyFamilyDevices(AccessTest::None)) {
                if (!device.port.empty() && device.port != options.unitPort &&
                    device.serialNumber == options.unitSerial) {
                    facts["serialAppearedAt"] = device.port;
                    break;
                }
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

void SendFacts(const nlohmann::json& facts) {
    WorkerEvent event{WorkerEvent::Kind::Facts, {}};
    event.text = facts.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    Send(event);
}

// The image whose bytes differ from those the station read at its start,
// or nothing when every image is as it was.
std::optional<std::string> ChangedImage(const std::vector<std::string>& paths,
                                        const std::vector<std::string>& sha256) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::optional<std::string> now = platform::Sha256OfFile(paths[i]);
        if (i >= sha256.size() || !now || *now != sha256[i]) {
            return paths[i];
        }
    }
    return std::nullopt;
}

// Why the worker sends nothing to its unit at all, or nothing when it may go
// on: another station holds the port, or an image changed since the station
// read it.
std::optional<std::string> RefusalBeforeStart(const StationOptions& options,
                                              const std::vector<std::string>& images,
                                              std::unique_ptr<platform::PortClaim>& claim) {
    long holder = 0;
    std::string error;
    claim = platform::PortClaim::Take(options.unitPort, holder, error);
    if (!claim) {
        if (!error.empty()) {
            return "the port " + options.unitPort + " could not be claimed: " + error;
        }
        return options.unitPort + " is in use by another station (pid " +
               (holder > 0 ? std::to_string(holder) : std::string("unknown")) + ")";
    }
    if (const std::optional<std::string> changed = ChangedImage(images, options.imageSha256)) {
        return "the image " + *changed + " changed since the station started";
    }
    return std::nullopt;
}

}  // namespace

int RunWorker(const StationOptions& options) {
    platform::IgnoreStopRequests();
    LimitDevicesToUnit({options.unitPort, options.unitSerial, !options.noSerialCheck});
    std::vector<const char*> words = {kToolName};
    for (const std::string& word : options.words) {
        words.push_back(word.c_str());
    }
    const int wordCount = static_cast<int>(words.size());
    const std::vector<std::string> images =
        ImagePathsOf(ParseCommandLine(wordCount, words.data(), options.edition));
    std::unique_ptr<platform::PortClaim> claim;
    if (const std::optional<std::string> refusal = RefusalBeforeStart(options, images, claim)) {
        SendFacts({{"refusal", *refusal}, {"sentNothing", true}});
        return 1;
    }

    LineFramer output(WorkerEvent::Kind::Output);
    LineFramer error(WorkerEvent::Kind::Error);
    std::streambuf* const originalOutput = std::cout.rdbuf(&output);
    std::streambuf* const originalError = std::cerr.rdbuf(&error);
    ObserveTransfers(PassOnProgress);
    ObserveDeviceLink(PassOnLinkActivity);

    const int status = RunApp(wordCount, words.data(), options.edition);

    ObserveDeviceLink(nullptr);
    ObserveTransfers(nullptr);
    std::cout.flush();
    std::cerr.flush();
    output.Finish();
    error.Finish();
    std::cout.rdbuf(originalOutput);
    std::cerr.rdbuf(originalError);
    nlohmann::json facts = FactsAfter(options);
    // Written while it changed: the record cannot say which bytes went in.
    if (const std::optional<std::string> changed = ChangedImage(images, options.imageSha256)) {
        facts["imageChanged"] = *changed;
    }
    SendFacts(facts);
    return status;
}
