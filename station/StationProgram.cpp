#include "station/StationProgram.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "devices/DeviceSurvey.h"
#include "devices/ListingText.h"
#include "platform/console/StationConsole.h"
#include "platform/files/RecordFile.h"
#include "platform/process/WorkerProcess.h"
#include "platform/usb/UsbWatch.h"
#include "station/Display.h"
#include "station/StationOptions.h"
#include "station/UnitRecord.h"
#include "station/Units.h"
#include "station/Worker.h"
#include "station/WorkerProtocol.h"
#include "station/bench/BenchMap.h"
#include "station/bench/LearnBench.h"
#include "station/bench/SerialSupply.h"
#include "station/bench/SlotStateMachine.h"
#include "station/dashboard/DashboardServer.h"

namespace {

using Clock = std::chrono::steady_clock;
// Events keep their keys in the order written: "event" first, for the reader.
using Json = nlohmann::ordered_json;
constexpr auto kLoopTick = std::chrono::milliseconds(100);
// A continuous station surveys when the system says a device came or went,
// after each unit's command, and at least this often besides.
constexpr auto kSurveyAtLeastEvery = std::chrono::seconds(10);
// Progress events of one unit, at most this often.
constexpr auto kProgressEventInterval = std::chrono::milliseconds(250);

// Stop requests so far (Ctrl+C, SIGTERM, SIGHUP, a console that closes).
std::atomic<int> stopRequests{0};
void OnStopRequest() { stopRequests.fetch_add(1); }

// What the reader threads hand to the station's one thread. They read their
// worker's pipes and nothing else; only the station's thread calls hidapi.
struct PipeEvent {
    std::uint64_t unit;
    platform::WorkerProcess::Stream stream;
    bool closed;
    std::string line;
};

class EventQueue {
public:
    void Push(PipeEvent event) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        ready.notify_one();
    }
    std::deque<PipeEvent> Wait(Clock::duration timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait_for(lock, timeout, [&] { return !events.empty(); });
        std::deque<PipeEvent> taken;
        taken.swap(events);
        return taken;
    }

private:
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<PipeEvent> events;
};

void ReadLines(platform::WorkerProcess& worker, platform::WorkerProcess::Stream stream,
               std::uint64_t unit, EventQueue& queue) {
    std::string pending;
    char buffer[4096];
    for (long n; (n = worker.Read(stream, buffer, sizeof buffer)) > 0;) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            queue.Push({unit, stream, false, pending.substr(0, end)});
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty()) {
        queue.Push({unit, stream, false, pending});
    }
    queue.Push({unit, stream, true, {}});
}

// One run of the station, shared by the records of its units: random, so
// that runs on two stations of a line never share one.
std::string NewRunId() {
    std::random_device random;
    std::mt19937_64 bits((static_cast<std::uint64_t>(random()) << 32) ^ random() ^
                         static_cast<std::uint64_t>(
                             std::chrono::system_clock::now().time_since_epoch().count()));
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(bits()),
                  static_cast<unsigned long long>(bits()));
    return text;
}

std::string SecondsText(std::chrono::milliseconds limit) {
    const auto seconds = limit.count() / 1000;
    return seconds * 1000 == limit.count() ? std::to_string(seconds) + " s"
                                           : std::to_string(limit.count()) + " ms";
}

double Rounded(double value, double unit) { return std::round(value / unit) * unit; }

// The station's events, one JSON object each: on standard output with
// --events, and to the page's board.
class EventSink {
public:
    EventSink(bool print, std::ostream& out, quorl::dashboard::DashboardServer* page)
        : print(print), out(out), page(page) {}

    bool Wanted() const { return print || page != nullptr; }

    void Emit(const Json& event) {
        if (print) {
            out << event.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
        }
        if (page != nullptr) {
            page->Apply(nlohmann::json(event));
        }
    }

private:
    bool print;
    std::ostream& out;
    quorl::dashboard::DashboardServer* page;
};

// A notice of the station's own: on standard error and as an event.
void Tell(StationDisplay& display, EventSink& events, const std::string& text, const std::string& level) {
    display.Notice(text);
    events.Emit({{"event", "notice"}, {"level", level}, {"text", text}});
}

// Whether the run takes this slot of the map: every slot, or those of --slot.
bool SlotSelected(const StationOptions& options, const BenchSlot& slot) {
    return options.slots.empty() ||
           std::find(options.slots.begin(), options.slots.end(), slot.label) != options.slots.end();
}

// A slot of the bench: a place where one unit at a time sits, at one port.
struct Slot {
    Slot(std::string label, std::string port, std::chrono::milliseconds grace)
        : label(std::move(label)), port(std::move(port)), machine(grace) {}

    std::string label;  // the bench map's label; empty without a map (the port names it)
    std::string port;
    SlotStateMachine machine;
    BenchUnit seen;                      // what the latest survey found at the port
    std::optional<std::uint64_t> run;    // the unit in the slot: its run, while it stays
    bool startWanted = false;
    UnitRun idle;                        // the slot's row when no run stands in it

    const std::string& Name() const { return label.empty() ? port : label; }
};

struct Counters {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t notStarted = 0;
    Clock::time_point since = Clock::now();

    double UnitsPerHour() const {
        const double hours = std::chrono::duration<double>(Clock::now() - since).count() / 3600.0;
        // Less than a minute says nothing yet about a rate.
        return hours < 1.0 / 60 ? 0.0 : static_cast<double>(passed + failed) / hours;
    }
    Json YieldPercent() const {
        const std::size_t judged = passed + failed;
        return judged == 0 ? Json(nullptr) : Json(Rounded(100.0 * passed / judged, 0.1));
    }
    std::string Line() const {
        char yield[16] = "-";
        if (const Json percent = YieldPercent(); !percent.is_null()) {
            std::snprintf(yield, sizeof yield, "%.1f %%", percent.get<double>());
        }
        char text[160];
        std::snprintf(text, sizeof text, "passed %zu  failed %zu  yield %s  units per hour %.0f",
                      passed, failed, yield, UnitsPerHour());
        return text;
    }
};

struct StationSetup {
    const StationOptions& options;
    const StationTiming& timing;
    const Invocation& invocation;
    RunContext context;
    const BenchMap* map;          // null without --bench
    SerialSupply* serials;        // null without --serials / --serials-from
    platform::RecordFile* log;
    StationDisplay& display;
    EventSink& events;
    bool recordFailed;
};

class Station {
public:
    explicit Station(StationSetup setup) : s(std::move(setup)) {
        for (const ImageFacts& image : s.context.images) {
            imageSha256.push_back(image.sha256);
        }
    }

    ~Station() {
        for (auto& [id, threads] : readers) {
            for (std::thread& reader : threads) {
                reader.join();
            }
        }
    }

    // The selected units, each run once; the station ends when all have.
    int RunOnce(std::vector<BenchUnit> units) {
        std::vector<std::uint64_t> order;
        for (BenchUnit& unit : units) {
            const std::uint64_t id = nextRun++;
            UnitRun& run = runs[id];
            if (s.map != nullptr) {
                run.slot = s.map->SlotAtPort(unit.port)->label;
            }
            run.unit = std::move(unit);
            order.push_back(id);
            s.events.Emit(ArrivedEvent(run.Name(), run.unit, true, {}));
        }
        EmitCounters();
        const std::string program = platform::OwnExecutablePath();
        Clock::time_point nextStart = Clock::now();
        int requestsSeen = 0;
        while (UnfinishedRuns()) {
            if (const int requests = stopRequests.load(); requests > requestsSeen) {
                requestsSeen == 0 ? StopStarting() : StillWaiting();
                requestsSeen = requests;
            }
            if (requestsSeen == 0 && Running() < s.options.jobs && Clock::now() >= nextStart) {
                for (const std::uint64_t id : order) {
                    if (runs[id].state == UnitRun::State::Waiting) {
                        Start(id, program);
                        nextStart = Clock::now() + s.timing.startStagger;
                        break;
                    }
                }
            }
            const bool waiting = requestsSeen == 0 && Running() < s.options.jobs &&
                                 std::any_of(runs.begin(), runs.end(), [](const auto& entry) {
                                     return entry.second.state == UnitRun::State::Waiting;
                                 });
            TakePipeEvents(waiting ? nextStart : Clock::now() + kLoopTick);
            Watch();
            s.display.Redraw(Rows(order), false, Footer());
        }
        const std::vector<const UnitRun*> rows = Rows(order);
        s.display.Summary(rows, s.recordFailed);
        bool all = !rows.empty() && !s.recordFailed;
        for (const UnitRun* run : rows) {
            all = all && run->succeeded;
        }
        return all ? 0 : 1;
    }

    // The bench all shift: each unit that arrives in a slot is run once.
    int RunContinuously(std::vector<Slot> mapped) {
        slots = std::move(mapped);
        dynamicSlots = slots.empty();
        std::unique_ptr<platform::UsbWatch> watch = platform::UsbWatch::Open();
        const std::string program = platform::OwnExecutablePath();
        EmitCounters();
        Survey();
        Clock::time_point nextStart = Clock::now();
        Clock::time_point nextSurvey = Clock::now() + kSurveyAtLeastEvery;
        int requestsSeen = 0;
        for (;;) {
            if (const int requests = stopRequests.load(); requests > requestsSeen) {
                requestsSeen == 0 ? StopArrivals() : StillWaiting();
                requestsSeen = requests;
            }
            if (requestsSeen > 0 && Running() == 0) {
                break;
            }
            const Clock::time_point now = Clock::now();
            if (watch->WaitForChange(now) || surveyWanted || now >= nextSurvey) {
                Survey();
                nextSurvey = Clock::now() + kSurveyAtLeastEvery;
            }
            FeedSlots(Clock::now());
            if (requestsSeen == 0 && Clock::now() >= nextStart) {
                if (StartWaitingSlot(program)) {
                    nextStart = Clock::now() + s.timing.startStagger;
                }
            }
            // A unit waiting for its start waits for that only, not for
            // the whole tick: a tray placed at once starts a stagger apart.
            TakePipeEvents(StartsWaiting() ? nextStart : Clock::now() + kLoopTick);
            Watch();
            s.display.Redraw(SlotRows(), false, Footer());
        }
        s.display.Redraw(SlotRows(), true, Footer());
        s.display.Forget();
        s.display.Totals(counters.passed + counters.failed + counters.notStarted, counters.passed,
                         counters.failed, counters.notStarted, s.recordFailed);
        return s.recordFailed ? 1 : 0;
    }

private:
    // --- the units' runs ---------------------------------------------------

    bool UnfinishedRuns() const {
        return std::any_of(runs.begin(), runs.end(),
                           [](const auto& entry) { return entry.second.state != UnitRun::State::Ended; });
    }

    int Running() const {
        int count = 0;
        for (const auto& [id, run] : runs) {
            count += run.state == UnitRun::State::Running ? 1 : 0;
        }
        return count;
    }

    std::vector<const UnitRun*> Rows(const std::vector<std::uint64_t>& order) const {
        std::vector<const UnitRun*> rows;
        for (const std::uint64_t id : order) {
            rows.push_back(&runs.at(id));
        }
        return rows;
    }

    static std::string Finishing(int running) {
        return std::to_string(running) +
               (running == 1 ? " unit finishes its command first" : " units finish their command first");
    }

    void StopStarting() {
        Notice("quorl-station: interrupted: no more units start; " + Finishing(Running()), "warning");
        for (auto& [id, run] : runs) {
            if (run.state == UnitRun::State::Waiting) {
                Finish(id, std::nullopt, "not started", "interrupted before it started");
            }
        }
    }

    void StopArrivals() {
        const int running = Running();
        Notice(running == 0 ? std::string("quorl-station: stopping")
                            : "quorl-station: stopping: no more units start; " + Finishing(running),
               "warning");
        for (Slot& slot : slots) {
            slot.startWanted = false;
        }
    }

    // A unit is never stopped between an erase and its writes: a second
    // request is answered, not obeyed.
    void StillWaiting() { Notice("quorl-station: still waiting: " + Finishing(Running()), "warning"); }

    void Notice(const std::string& text, const std::string& level = "info") {
        Tell(s.display, s.events, text, level);
    }

    // Starts the run's worker; false when it could not start (the run has
    // then ended, failed or not started, with why).
    bool Start(std::uint64_t id, const std::string& program) {
        UnitRun& run = runs[id];
        run.words = s.options.words;
        if (s.serials != nullptr) {
            const std::optional<std::string> serial = s.serials->Next();
            if (!serial) {
                Finish(id, std::nullopt, "not started",
                       "no serial number left to give (" +
                           (s.options.serialsFrom ? "every one in " + *s.options.serialsFrom
                                                  : std::string("the count ran out of digits")) +
                           " is given)");
                return false;
            }
            run.serialGiven = *serial;
            run.words = WithSerial(s.options.words, *serial);
        }
        run.startedAt = std::chrono::system_clock::now();
        run.startedClock = run.lastHeard = Clock::now();
        std::string error;
        run.worker = platform::WorkerProcess::Start(
            program,
            WorkerArguments(s.options, run.words, run.unit.port, run.unit.serialNumber, imageSha256),
            error);
        run.state = UnitRun::State::Running;
        Json started = {{"event", "started"}, {"slot", run.Name()}, {"port", run.unit.port}};
        if (!run.unit.serialNumber.empty()) {
            started["serial"] = run.unit.serialNumber;
        }
        if (!run.serialGiven.empty()) {
            started["serialGiven"] = run.serialGiven;
        }
        s.events.Emit(started);
        if (!run.worker) {
            Finish(id, std::nullopt, "failed", "its worker could not be started: " + error);
            return false;
        }
        run.ran = true;
        run.openStreams = 2;
        std::vector<std::thread>& threads = readers[id];
        for (const auto stream : {platform::WorkerProcess::Output, platform::WorkerProcess::Error}) {
            threads.emplace_back(ReadLines, std::ref(*run.worker), stream, id, std::ref(queue));
        }
        return true;
    }

    // The workers' lines until the deadline, or the tick's end at the latest.
    void TakePipeEvents(Clock::time_point until) {
        const Clock::time_point now = Clock::now();
        const Clock::duration wait = std::clamp<Clock::duration>(until - now, Clock::duration::zero(), kLoopTick);
        for (PipeEvent& event : queue.Wait(wait)) {
            Take(event);
        }
    }

    void Take(PipeEvent& event) {
        const auto found = runs.find(event.unit);
        if (found == runs.end()) {
            return;
        }
        UnitRun& run = found->second;
        if (event.closed) {
            if (--run.openStreams == 0) {
                End(event.unit);
            }
            return;
        }
        if (event.stream == platform::WorkerProcess::Error) {
            // The worker's own standard error: a crash report, a sanitizer.
            if (!event.line.empty() && event.line.back() == '\r') {
                event.line.pop_back();
            }
            AddLine(run, {UnitLine::Stream::Worker, event.line});
            return;
        }
        const std::optional<WorkerEvent> said = DecodeEvent(event.line);
        if (!said) {
            AddLine(run, {UnitLine::Stream::Worker, event.line});
            return;
        }
        switch (said->kind) {
            case WorkerEvent::Kind::Output:
                run.phase = said->text;
                AddLine(run, {UnitLine::Stream::Output, said->text});
                break;
            case WorkerEvent::Kind::Error:
                AddLine(run, {UnitLine::Stream::Error, said->text});
                break;
            case WorkerEvent::Kind::Progress:
                run.lastHeard = Clock::now();
                run.done = said->done;
                run.total = said->total;
                ProgressEvent(event.unit, run);
                break;
            case WorkerEvent::Kind::Facts:
                run.facts = nlohmann::json::parse(said->text, nullptr, false);
                if (run.facts.is_discarded() || !run.facts.is_object()) {
                    run.facts = nlohmann::json::object();
                }
                break;
            case WorkerEvent::Kind::Activity:
                // The unit's link answered (or a "." mark of a wait that
                // retries): the watchdog counts only these, not lines.
                run.lastHeard = Clock::now();
                break;
        }
    }

    void AddLine(UnitRun& run, UnitLine line) {
        s.display.Line(run, line);
        if (s.events.Wanted()) {
            static constexpr const char* kStreams[] = {"output", "error", "worker"};
            s.events.Emit({{"event", "line"},
                           {"slot", run.Name()},
                           {"stream", kStreams[static_cast<int>(line.stream)]},
                           {"text", line.text},
                           {"elapsed_s", Rounded(run.ElapsedSeconds(), 0.1)}});
        }
        run.lines.push_back(std::move(line));
    }

    // At most a few a second, and only when the percentage moved.
    void ProgressEvent(std::uint64_t id, const UnitRun& run) {
        if (!s.events.Wanted() || run.total == 0) {
            return;
        }
        const int percent = static_cast<int>(std::min(run.done, run.total) * 100 / run.total);
        ProgressSent& sent = progressSent[id];
        const Clock::time_point now = Clock::now();
        if (percent == sent.percent || (now - sent.at < kProgressEventInterval && percent != 100)) {
            return;
        }
        sent = {percent, now};
        s.events.Emit({{"event", "progress"},
                       {"slot", run.Name()},
                       {"percent", percent},
                       {"done", run.done},
                       {"total", run.total},
                       {"elapsed_s", Rounded(run.ElapsedSeconds(), 0.1)}});
    }

    // A worker whose unit's link has been silent for too long waits on a
    // device that will not answer: it is ended, and its streams then close.
    void Watch() {
        const Clock::time_point now = Clock::now();
        for (auto& [id, run] : runs) {
            if (run.state == UnitRun::State::Running && run.worker && run.killedBecause.empty() &&
                now - run.lastHeard >= s.timing.noAnswerLimit) {
                run.killedBecause = "no answer for " + SecondsText(s.timing.noAnswerLimit);
                run.worker->Kill();
            }
        }
    }

    void End(std::uint64_t id) {
        UnitRun& run = runs[id];
        const platform::WorkerEnding ending = run.worker->Wait();
        // Both streams are closed: the readers have nothing more to do.
        for (std::thread& reader : readers[id]) {
            reader.join();
        }
        readers.erase(id);
        progressSent.erase(id);
        run.worker.reset();
        // Finish may let the unit's slot forget the run: nothing touches it after.
        if (!run.killedBecause.empty()) {
            Finish(id, std::nullopt, "failed", run.killedBecause);
        } else if (!ending.exited) {
            Finish(id, std::nullopt, "failed", "its worker was " + ending.description);
        } else {
            const std::string reason = ReasonOf(run, ending.status);
            Finish(id, ending.status, reason.empty() ? "succeeded" : "failed", reason);
        }
    }

    // Why the unit did not succeed, or empty when it did. Only the unit's
    // own port decides: a device that turns up elsewhere is another unit,
    // unless it carries this unit's serial number, and then it is named.
    static std::string ReasonOf(const UnitRun& run, int status) {
        const nlohmann::json& facts = run.facts;
        if (facts.contains("refusal")) {
            return facts["refusal"].get<std::string>();
        }
        if (!facts.contains("productIdsSeen")) {
            return "its worker ended without a word about its unit";
        }
        if (facts.contains("imageChanged")) {
            return "the image " + facts["imageChanged"].get<std::string>() +
                   " changed while it was written";
        }
        if (facts.value("notBack", false)) {
            std::string reason = "did not come back at " + run.unit.port;
            if (facts.contains("serialAppearedAt")) {
                reason += "; a device with its serial number appeared at " +
                          facts["serialAppearedAt"].get<std::string>();
            }
            return reason;
        }
        if (status != 0) {
            return LastOutputLine(run);
        }
        // The serial number the unit gives back must be the one it was given.
        if (!run.serialGiven.empty()) {
            const std::string readBack = facts.value("serialAfter", std::string());
            if (readBack != run.serialGiven) {
                return readBack.empty() ? "no serial number read back; " + run.serialGiven + " was written"
                                        : "the serial number read back is " + readBack + ", not " +
                                              run.serialGiven;
            }
        }
        return {};
    }

    static std::string LastOutputLine(const UnitRun& run) {
        for (auto line = run.lines.rbegin(); line != run.lines.rend(); ++line) {
            if (line->stream != UnitLine::Stream::Worker) {
                return line->text;
            }
        }
        return "exit status without a line";
    }

    void Finish(std::uint64_t id, std::optional<int> status, const std::string& outcome,
                const std::string& reason) {
        UnitRun& run = runs[id];
        run.state = UnitRun::State::Ended;
        run.endedAt = std::chrono::system_clock::now();
        run.endedClock = Clock::now();
        run.exitStatus = status;
        run.outcome = outcome;
        run.succeeded = outcome == "succeeded";
        run.reason = reason;
        const Record record = UnitRecord(run, s.context);
        if (s.log != nullptr) {
            std::string error;
            if (!s.log->AppendLine(RecordLine(record), error)) {
                s.recordFailed = true;
                Notice("quorl-station: the record of the unit at " + run.Name() +
                           " could not be written to the log: " + error,
                       "error");
            }
        }
        s.display.Ended(run, record);
        if (s.options.continuous) {
            s.display.SlotLine(run.Name(), outcome == "succeeded" ? std::string("PASS")
                                           : outcome == "failed"  ? "FAIL: " + reason
                                                                  : "not started: " + reason);
        }
        (outcome == "succeeded" ? counters.passed
         : outcome == "failed"  ? counters.failed
                                : counters.notStarted)++;
        Json ended = {{"event", "ended"},
                      {"slot", run.Name()},
                      {"port", run.unit.port},
                      {"outcome", outcome},
                      {"result", outcome == "succeeded" ? Json("PASS")
                                 : outcome == "failed"  ? Json("FAIL")
                                                        : Json(nullptr)},
                      {"elapsed_s", run.ran ? Json(Rounded(run.ElapsedSeconds(), 0.1)) : Json(nullptr)},
                      {"record", record}};
        if (!reason.empty()) {
            ended["reason"] = reason;
        }
        // The release after, beside the one before, only when the unit shows
        // in the state it arrived in: a bootloader's own release (a failed
        // update, -b) is no release of the firmware it runs.
        if (record["releaseAfter"].is_string() && !run.unit.devices.empty() &&
            record["productIdAfter"] == UsbIdText(run.unit.devices.front().productId)) {
            ended["release"] = record["releaseAfter"];
        }
        s.events.Emit(ended);
        EmitCounters();
        surveyWanted = true;
        // The slot the unit sits in judges it now (last: it may forget the run).
        const std::string serialNow =
            run.serialGiven.empty() ? std::string() : run.facts.value("serialAfter", std::string());
        const bool passed = run.succeeded;
        for (Slot& slot : slots) {
            if (slot.run == id) {
                Handle(slot, slot.machine.WorkerEnded(Clock::now(), passed, serialNow));
                break;
            }
        }
    }

    void EmitCounters() {
        s.events.Emit({{"event", "counters"},
                       {"passed", counters.passed},
                       {"failed", counters.failed},
                       {"not_started", counters.notStarted},
                       {"units_per_hour", Rounded(counters.UnitsPerHour(), 0.1)},
                       {"yield", counters.YieldPercent()}});
    }

    std::string Footer() const {
        return s.options.continuous || s.map != nullptr ? counters.Line() : std::string();
    }

    // --- the slots of a continuous bench ----------------------------------

    static Json ArrivedEvent(const std::string& name, const BenchUnit& unit, bool served,
                             const std::string& why) {
        Json arrived = {{"event", "arrived"}, {"slot", name}, {"port", unit.port}, {"served", served}};
        if (!unit.serialNumber.empty()) {
            arrived["serial"] = unit.serialNumber;
        }
        if (!unit.devices.empty()) {
            arrived["device"] = unit.devices.front().what.kind + " " + unit.devices.front().what.state;
            arrived["release"] = ReleaseText(unit.devices.front().release);
        }
        if (!served) {
            arrived["reason"] = why;
        }
        return arrived;
    }

    // One survey, then each slot told what its port shows.
    void Survey() {
        surveyWanted = false;
        const std::vector<BenchUnit> units = UnitsOnBench(SurveyFamilyDevices(AccessTest::None));
        std::map<std::string, const BenchUnit*> atPort;
        for (const BenchUnit& unit : units) {
            atPort[unit.port] = &unit;
        }
        for (Slot& slot : slots) {
            const auto found = atPort.find(slot.port);
            slot.seen = found != atPort.end() ? *found->second : BenchUnit{slot.port, {}, {}};
        }
        for (const BenchUnit& unit : units) {
            if (std::any_of(slots.begin(), slots.end(), [&](const Slot& slot) { return slot.port == unit.port; })) {
                continue;
            }
            if (dynamicSlots) {
                Slot slot({}, unit.port, s.options.removalGrace);
                slot.seen = unit;
                slots.push_back(std::move(slot));
                std::sort(slots.begin(), slots.end(),
                          [](const Slot& a, const Slot& b) { return PortOrder(a.port, b.port); });
            } else if (unmappedNoticed.insert(unit.port + "\n" + unit.serialNumber).second) {
                Notice("quorl-station: left alone: " + unit.port + ": " + unit.Description() +
                           (s.map != nullptr && s.map->SlotAtPort(unit.port) != nullptr
                                ? ", in a slot not selected"
                                : ", at a port the bench map does not name"),
                       "info");
            }
        }
    }

    void FeedSlots(Clock::time_point now) {
        for (std::size_t at = 0; at < slots.size(); ++at) {
            Slot& slot = slots[at];
            std::optional<DeviceAtPort> seen;
            if (!slot.seen.devices.empty()) {
                const bool served = AnyServed(s.invocation, slot.seen);
                seen = DeviceAtPort{slot.seen.serialNumber, served,
                                    served ? std::string()
                                           : slot.seen.Description() + ", which this command does not serve"};
            }
            Handle(slot, slot.machine.Surveyed(now, seen));
        }
        if (dynamicSlots) {
            // Without a map, a port's row goes once its unit has gone.
            slots.erase(std::remove_if(slots.begin(), slots.end(),
                                       [](const Slot& slot) {
                                           return slot.machine.State() == SlotState::Empty &&
                                                  slot.seen.devices.empty() && !slot.run;
                                       }),
                        slots.end());
        }
    }

    void Handle(Slot& slot, const SlotEvents& events) {
        if (events.removed) {
            s.display.SlotLine(slot.Name(), "removed");
            s.events.Emit({{"event", "removed"}, {"slot", slot.Name()}, {"port", slot.port}});
            ForgetRun(slot);
            slot.startWanted = false;
        }
        if (events.newUnit) {
            ForgetRun(slot);
            const bool served = slot.machine.State() != SlotState::NotServed;
            s.display.SlotLine(slot.Name(), served ? "arrived: " + slot.seen.Description()
                                                   : "not served: " + slot.machine.WhyNotServed());
            s.events.Emit(ArrivedEvent(slot.Name(), slot.seen, served, slot.machine.WhyNotServed()));
        }
        if (events.startWorker && stopRequests.load() == 0) {
            slot.startWanted = true;
            arrivals.push_back(slot.port);
        }
        // The slot's row while no run stands in it.
        slot.idle = UnitRun{};
        slot.idle.slot = slot.label;
        slot.idle.unit = slot.seen;
        slot.idle.unit.port = slot.port;
        switch (slot.machine.State()) {
            case SlotState::Empty:
                slot.idle.unit.serialNumber.clear();
                slot.idle.idleText = "empty";
                break;
            case SlotState::Arrived:
                slot.idle.idleText = "arrived";
                break;
            case SlotState::NotServed:
                slot.idle.idleText = "not served: " + slot.machine.WhyNotServed();
                break;
            default:
                break;
        }
    }

    // A run whose unit has left its slot: its record is written, and the
    // station keeps nothing more of it.
    void ForgetRun(Slot& slot) {
        if (slot.run && runs.count(*slot.run) != 0 && runs[*slot.run].state == UnitRun::State::Ended) {
            runs.erase(*slot.run);
        }
        slot.run.reset();
    }

    // Whether a unit that arrived waits for its start, and a job is free for it.
    bool StartsWaiting() const {
        return Running() < s.options.jobs &&
               std::any_of(slots.begin(), slots.end(), [](const Slot& slot) { return slot.startWanted; });
    }

    // The unit that arrived first among those waiting, when a job is free.
    bool StartWaitingSlot(const std::string& program) {
        while (!arrivals.empty() && Running() < s.options.jobs) {
            const std::string port = arrivals.front();
            arrivals.pop_front();
            auto slot = std::find_if(slots.begin(), slots.end(), [&](const Slot& each) { return each.port == port; });
            if (slot == slots.end() || !slot->startWanted || slot->machine.State() != SlotState::Arrived) {
                continue;
            }
            slot->startWanted = false;
            const std::uint64_t id = nextRun++;
            UnitRun& run = runs[id];
            run.slot = slot->label;
            run.unit = slot->seen;
            slot->run = id;
            slot->machine.WorkerStarted(Clock::now());
            Start(id, program);
            return true;
        }
        return false;
    }

    std::vector<const UnitRun*> SlotRows() const {
        std::vector<const UnitRun*> rows;
        for (const Slot& slot : slots) {
            rows.push_back(slot.run && runs.count(*slot.run) != 0 ? &runs.at(*slot.run) : &slot.idle);
        }
        return rows;
    }

    struct ProgressSent {
        int percent = -1;
        Clock::time_point at{};
    };

    StationSetup s;
    std::vector<std::string> imageSha256;
    // Ordered by start, never moved: readers hold their worker by reference.
    std::map<std::uint64_t, UnitRun> runs;
    std::uint64_t nextRun = 0;
    std::map<std::uint64_t, std::vector<std::thread>> readers;
    std::map<std::uint64_t, ProgressSent> progressSent;
    EventQueue queue;
    std::vector<Slot> slots;
    bool dynamicSlots = false;
    std::deque<std::string> arrivals;  // ports of units waiting to start, first come first
    std::set<std::string> unmappedNoticed;
    bool surveyWanted = false;
    Counters counters;
};

// The unit records of one run in a station's log, one a line, read when a
// page asks for them: the log holds them all, the station's memory need not.
std::string UnitRecordsOfRun(const std::string& logPath, const std::string& runId) {
    std::ifstream log(logPath, std::ios::binary);
    std::string records;
    const std::string ofRun = "\"runId\":\"" + runId + "\"";
    for (std::string line; std::getline(log, line);) {
        // Records are written compact: their keys stand as "key":value.
        if (line.find("\"kind\":\"unit\"") != std::string::npos && line.find(ofRun) != std::string::npos) {
            records += line;
            records += '\n';
        }
    }
    return records;
}

// The words with the placeholder in place, for checking them as the tool would.
std::vector<std::string> WordsToCheck(const StationOptions& options) {
    return NamesSerialPlaceholder(options.words) ? WithSerial(options.words, "QC7F0000") : options.words;
}

int LearnBenchMap(const StationOptions& options) {
    LearnBenchRequest request;
    request.path = *options.learnBenchPath;
    request.labels = options.learnSlots;
    request.columns = options.columns;
    request.name = options.benchName;
    std::unique_ptr<platform::UsbWatch> watch = platform::UsbWatch::Open();
    LearnBenchSystem system;
    system.survey = [] { return SurveyFamilyDevices(AccessTest::None); };
    system.waitForChange = [&](Clock::time_point until) { return watch->WaitForChange(until); };
    system.stopRequested = [] { return stopRequests.load() > 0; };
    stopRequests = 0;
    platform::OnStopRequest(OnStopRequest);
    const int status = LearnBench(request, system, std::cout, std::cerr);
    platform::StopRequestServed();
    return status;
}

}  // namespace

int RunStation(const std::vector<std::string>& arguments, const StationTiming& timing) {
    platform::KeepRunningWhenOutputCloses();
    const ParsedStationLine parsed = ParseStationLine(arguments);
    if (!parsed.options) {
        (parsed.status == 0 ? std::cout : std::cerr) << parsed.text << std::endl;
        return parsed.status;
    }
    StationOptions options = *parsed.options;
    if (options.worker) {
        return RunWorker(options);
    }
    if (options.learnBenchPath) {
        return LearnBenchMap(options);
    }
    const auto usage = [](const std::string& text) {
        std::cerr << "quorl-station: " << text << std::endl;
        return 2;
    };
    // The map first: a bad map stops the run before any unit is looked at.
    std::optional<BenchMap> map;
    if (options.benchPath) {
        auto loaded = LoadBenchMap(*options.benchPath);
        if (std::holds_alternative<std::string>(loaded)) {
            return usage("the bench map " + std::get<std::string>(loaded));
        }
        map = std::move(std::get<BenchMap>(loaded));
        for (const std::string& label : options.slots) {
            const BenchSlot* slot = map->SlotLabelled(label);
            if (slot == nullptr) {
                std::string known;
                for (const BenchSlot& each : map->slots) {
                    known += " " + each.label;
                }
                return usage("no slot " + label + " in the bench map " + *options.benchPath +
                             "; its slots:" + known);
            }
            options.ports.push_back(slot->port);
        }
    }
    const std::vector<std::string> checked = WordsToCheck(options);
    std::vector<const char*> words = {"QuorlFirmwareUpdateApp"};
    for (const std::string& word : checked) {
        words.push_back(word.c_str());
    }
    const Invocation invocation =
        ParseCommandLine(static_cast<int>(words.size()), words.data(), options.edition);
    if (const std::optional<std::string> refusal = StationRefusal(invocation)) {
        return usage(*refusal);
    }
    // Serial numbers for a shift: each unit its own, never one twice.
    const bool placeholder = NamesSerialPlaceholder(options.words);
    const bool supplied = options.serialsFirst || options.serialsFrom;
    if (placeholder && !supplied) {
        return usage("the command names {serial}: say where each unit's serial number comes from "
                     "with --serials FIRST or --serials-from FILE");
    }
    if (supplied && !placeholder) {
        return usage("--serials and --serials-from give each unit its own serial number for "
                     "-S {serial}: the command does not name {serial}");
    }
    if (options.continuous && invocation.kind == CommandKind::SetUnitSerial && !placeholder) {
        return usage("-S with one serial number would write it into every unit that arrives; "
                     "give each its own: -S {serial} with --serials FIRST or --serials-from FILE");
    }
    std::optional<SerialSupply> serials;
    if (supplied) {
        if (!options.logPath) {
            return usage("--serials needs --log FILE: the log is where the station sees which "
                         "serial numbers were given, so that none is given twice");
        }
        auto supply = options.serialsFirst ? SerialSupply::CountingFrom(*options.serialsFirst)
                                           : SerialSupply::FromFile(*options.serialsFrom);
        if (std::holds_alternative<std::string>(supply)) {
            return usage(std::get<std::string>(supply));
        }
        serials = std::move(std::get<SerialSupply>(supply));
        std::string error;
        const std::optional<std::set<std::string>> given = SerialsGivenInLog(*options.logPath, error);
        if (!given) {
            return usage(error);
        }
        serials->Skip(*given);
    }
    if (options.dashboard && options.continuous && !map) {
        return usage("the page shows the slots of a bench: name its map with --bench FILE "
                     "(quorl-station --learn-bench FILE --slots ... writes one)");
    }
    std::optional<quorl::dashboard::DashboardAddress> pageAddress;
    if (options.dashboard) {
        pageAddress = quorl::dashboard::ParseDashboardAddress(*options.dashboard);
        if (!pageAddress->ok) {
            return usage("--dashboard " + *options.dashboard + ": " + pageAddress->error);
        }
    }
    RunContext context;
    context.runId = NewRunId();
    context.host = platform::HostName();
    context.edition = options.edition;
    context.words = options.words;
    context.benchName = map ? map->name : std::string();
    std::string unreadable;
    if (std::optional<std::vector<ImageFacts>> images = ImagesOf(invocation, unreadable)) {
        context.images = std::move(*images);
    } else {
        std::cerr << "quorl-station: Unable to open: " << unreadable << std::endl;
        return 2;
    }

    Selection selection;
    std::vector<std::string> alone;  // devices at ports the bench map does not name
    if (!options.continuous) {
        const std::vector<ListedDevice> survey = SurveyFamilyDevices(AccessTest::None);
        std::vector<BenchUnit> bench = UnitsOnBench(survey);
        if (map) {
            std::vector<BenchUnit> mapped;
            for (BenchUnit& unit : bench) {
                if (map->SlotAtPort(unit.port) != nullptr) {
                    mapped.push_back(std::move(unit));
                } else {
                    alone.push_back("quorl-station: left alone: " + unit.port + ": " + unit.Description() +
                                    ", at a port the bench map does not name");
                }
            }
            bench = std::move(mapped);
        }
        selection = SelectUnits(options, invocation, bench);
        if (selection.status != 0) {
            for (const std::string& line : selection.problem) {
                std::cerr << line << std::endl;
            }
            return selection.status;
        }
        if (options.selection == StationOptions::Selection::All) {
            for (const ListedDevice& device : survey) {
                if (device.port.empty()) {
                    selection.leftOut.push_back("the " + device.what.kind + " at " + device.path +
                                                ": its USB port is unknown, so it cannot be followed");
                }
            }
        }
        if (serials && selection.units.size() > serials->Remaining()) {
            return usage(std::to_string(selection.units.size()) + " units, and " +
                         std::to_string(serials->Remaining()) + " serial numbers left in " +
                         *options.serialsFrom + ": nothing was sent");
        }
    }
    // Opened only once the run is sure to go ahead: a refused selection
    // leaves no new empty log behind.
    std::unique_ptr<platform::RecordFile> log;
    if (options.logPath) {
        std::string error;
        log = platform::RecordFile::Open(*options.logPath, error);
        if (!log) {
            std::cerr << "quorl-station: cannot write the log " << *options.logPath << ": " << error
                      << std::endl;
            return 2;
        }
    }
    // The units in the order their rows show: the map's, or their ports'.
    const auto slotIndex = [&](const std::string& port) {
        const BenchSlot* slot = map ? map->SlotAtPort(port) : nullptr;
        return slot == nullptr ? map->slots.size() : static_cast<std::size_t>(slot - map->slots.data());
    };
    std::sort(selection.units.begin(), selection.units.end(), [&](const BenchUnit& a, const BenchUnit& b) {
        return map ? slotIndex(a.port) < slotIndex(b.port) : PortOrder(a.port, b.port);
    });

    // From here a stop request ends the station its own way: even while the
    // page starts, Ctrl+C never ends the process in the middle.
    stopRequests = 0;
    platform::OnStopRequest(OnStopRequest);

    // The page, before any unit starts: its tiles are there from the start.
    std::unique_ptr<quorl::dashboard::BenchBoard> board;
    std::unique_ptr<quorl::dashboard::DashboardServer> page;
    if (pageAddress) {
        quorl::dashboard::BenchSetup setup;
        setup.name = map ? map->name : "quorl-station on " + context.host;
        setup.command = options.words;
        for (const ImageFacts& image : context.images) {
            setup.images.push_back({std::filesystem::path(image.path).filename().string(), image.sha256});
        }
        setup.version = QUORL_VERSION;
        if (map) {
            setup.columns = map->columns > 0 ? map->columns : static_cast<int>(map->slots.size());
            for (const BenchSlot& slot : map->slots) {
                if (SlotSelected(options, slot)) {
                    setup.slots.push_back(slot.label);
                }
            }
        } else {
            setup.columns = std::min<int>(4, std::max<std::size_t>(1, selection.units.size()));
            for (const BenchUnit& unit : selection.units) {
                setup.slots.push_back(unit.port);
            }
        }
        board = std::make_unique<quorl::dashboard::BenchBoard>(std::move(setup));
        if (options.logPath) {
            board->SetRecordsSource([path = *options.logPath, runId = context.runId] {
                return UnitRecordsOfRun(path, runId);
            });
        }
        page = std::make_unique<quorl::dashboard::DashboardServer>(*board);
        std::string error;
        if (!page->Start(*pageAddress, error)) {
            platform::StopRequestServed();
            return usage("the page cannot be served at " + *options.dashboard + ": " + error);
        }
    }

    const StationDisplay::Mode mode = options.events                ? StationDisplay::Mode::Events
                                      : options.json                  ? StationDisplay::Mode::Json
                                      : platform::StdoutIsTerminal()  ? StationDisplay::Mode::Terminal
                                                                      : StationDisplay::Mode::Lines;
    StationDisplay display(mode, std::cout, std::cerr, platform::StdoutColumns(), ColoursWanted(mode));
    EventSink events(options.events, std::cout, page.get());
    const auto notice = [&](const std::string& text, const std::string& level) {
        Tell(display, events, text, level);
    };
    if (page) {
        notice("quorl-station: the bench's page: " +
                   quorl::dashboard::DashboardUrl(pageAddress->host, page->Port()),
               "info");
        if (!pageAddress->warning.empty()) {
            notice("quorl-station: " + pageAddress->warning, "warning");
        }
    }
    for (const std::string& line : selection.leftOut) {
        notice("quorl-station: left out " + line, "info");
    }
    for (const std::string& line : alone) {
        notice(line, "info");
    }
    bool recordFailed = false;
    if (log) {
        std::string error;
        if (!log->AppendLine(RecordLine(RunRecord(context, options, selection)), error)) {
            recordFailed = true;
            notice("quorl-station: the record of this run could not be written to the log: " + error,
                   "error");
        }
    }
    int status = 0;
    {
        Station station(StationSetup{options, timing, invocation, std::move(context),
                                     map ? &*map : nullptr, serials ? &*serials : nullptr, log.get(),
                                     display, events, recordFailed});
        if (options.continuous) {
            std::vector<Slot> slots;
            if (map) {
                for (const BenchSlot& slot : map->slots) {
                    if (SlotSelected(options, slot)) {
                        slots.emplace_back(slot.label, slot.port, options.removalGrace);
                    }
                }
            }
            status = station.RunContinuously(std::move(slots));
        } else {
            status = station.RunOnce(std::move(selection.units));
        }
    }
    if (page) {
        page->Stop();
    }
    platform::StopRequestServed();
    return status;
}
