#include "station/StationProgram.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>

#include "devices/DeviceSurvey.h"
#include "platform/files/RecordFile.h"
#include "platform/console/StationConsole.h"
#include "platform/process/WorkerProcess.h"
#include "station/Display.h"
#include "station/StationOptions.h"
#include "station/UnitRecord.h"
#include "station/Units.h"
#include "station/Worker.h"
#include "station/WorkerProtocol.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLoopTick = std::chrono::milliseconds(100);

// Stop requests so far (Ctrl+C, SIGTERM, SIGHUP, a console that closes).
std::atomic<int> stopRequests{0};
void OnStopRequest() { stopRequests.fetch_add(1); }

// What the reader threads hand to the station's one thread. They read their
// worker's pipes and nothing else; only the station's thread calls hidapi.
struct PipeEvent {
    std::size_t unit;
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
               std::size_t unit, EventQueue& queue) {
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

class Station {
public:
    Station(const StationOptions& options, const StationTiming& timing, RunContext context,
            std::vector<BenchUnit> units, platform::RecordFile* log, StationDisplay& display,
            bool recordFailed)
        : options(options),
          timing(timing),
          context(std::move(context)),
          log(log),
          display(display),
          recordFailed(recordFailed) {
        for (const ImageFacts& image : this->context.images) {
            imageSha256.push_back(image.sha256);
        }
        runs.reserve(units.size());  // the readers hold on to the workers
        for (BenchUnit& unit : units) {
            runs.emplace_back();
            runs.back().unit = std::move(unit);
        }
    }

    ~Station() {
        for (std::thread& reader : readers) {
            reader.join();
        }
    }

    int Run() {
        const std::string program = platform::OwnExecutablePath();
        Clock::time_point nextStart = Clock::now();
        int requestsSeen = 0;
        while (Unfinished()) {
            if (const int requests = stopRequests.load(); requests > requestsSeen) {
                requestsSeen == 0 ? StopStarting() : StillWaiting();
                requestsSeen = requests;
            }
            if (requestsSeen == 0 && Running() < options.jobs && Clock::now() >= nextStart) {
                if (StartNext(program)) {
                    nextStart = Clock::now() + timing.startStagger;
                }
            }
            for (PipeEvent& event : queue.Wait(kLoopTick)) {
                Take(event);
            }
            Watch();
            display.Redraw(runs);
        }
        display.Summary(runs, recordFailed);
        bool all = !runs.empty() && !recordFailed;
        for (const UnitRun& run : runs) {
            all = all && run.succeeded;
        }
        return all ? 0 : 1;
    }

private:
    bool Unfinished() const {
        for (const UnitRun& run : runs) {
            if (run.state != UnitRun::State::Ended) {
                return true;
            }
        }
        return false;
    }

    int Running() const {
        int count = 0;
        for (const UnitRun& run : runs) {
            count += run.state == UnitRun::State::Running ? 1 : 0;
        }
        return count;
    }

    static std::string Finishing(int running) {
        return std::to_string(running) +
               (running == 1 ? " unit finishes its command first" : " units finish their command first");
    }

    void StopStarting() {
        display.Notice("quorl-station: interrupted: no more units start; " + Finishing(Running()));
        for (UnitRun& run : runs) {
            if (run.state == UnitRun::State::Waiting) {
                Finish(run, std::nullopt, "not started", "interrupted before it started");
            }
        }
    }

    // A unit is never stopped between an erase and its writes: a second
    // request is answered, not obeyed.
    void StillWaiting() {
        display.Notice("quorl-station: still waiting: " + Finishing(Running()));
    }

    bool StartNext(const std::string& program) {
        for (std::size_t index = 0; index < runs.size(); ++index) {
            UnitRun& run = runs[index];
            if (run.state != UnitRun::State::Waiting) {
                continue;
            }
            run.startedAt = std::chrono::system_clock::now();
            run.startedClock = run.lastHeard = Clock::now();
            std::string error;
            run.worker = platform::WorkerProcess::Start(
                program,
                WorkerArguments(options, run.unit.port, run.unit.serialNumber, imageSha256),
                error);
            if (!run.worker) {
                run.state = UnitRun::State::Running;
                Finish(run, std::nullopt, "failed", "its worker could not be started: " + error);
                return true;
            }
            run.state = UnitRun::State::Running;
            run.ran = true;
            run.openStreams = 2;
            for (const auto stream : {platform::WorkerProcess::Output, platform::WorkerProcess::Error}) {
                readers.emplace_back(ReadLines, std::ref(*run.worker), stream, index, std::ref(queue));
            }
            return true;
        }
        return false;
    }

    void Take(PipeEvent& event) {
        UnitRun& run = runs[event.unit];
        if (event.closed) {
            if (--run.openStreams == 0) {
                End(run);
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
        display.Line(run, line);
        run.lines.push_back(std::move(line));
    }

    // A worker whose unit's link has been silent for too long waits on a
    // device that will not answer: it is ended, and its streams then close.
    void Watch() {
        const Clock::time_point now = Clock::now();
        for (UnitRun& run : runs) {
            if (run.state == UnitRun::State::Running && run.worker && run.killedBecause.empty() &&
                now - run.lastHeard >= timing.noAnswerLimit) {
                run.killedBecause = "no answer for " + SecondsText(timing.noAnswerLimit);
                run.worker->Kill();
            }
        }
    }

    void End(UnitRun& run) {
        const platform::WorkerEnding ending = run.worker->Wait();
        if (!run.killedBecause.empty()) {
            Finish(run, std::nullopt, "failed", run.killedBecause);
            return;
        }
        if (!ending.exited) {
            Finish(run, std::nullopt, "failed", "its worker was " + ending.description);
            return;
        }
        Finish(run, ending.status, ReasonOf(run, ending.status));
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
        return status != 0 ? LastOutputLine(run) : std::string();
    }

    static std::string LastOutputLine(const UnitRun& run) {
        for (auto line = run.lines.rbegin(); line != run.lines.rend(); ++line) {
            if (line->stream != UnitLine::Stream::Worker) {
                return line->text;
            }
        }
        return "exit status without a line";
    }

    void Finish(UnitRun& run, std::optional<int> status, const std::string& reason) {
        Finish(run, status, reason.empty() ? "succeeded" : "failed", reason);
    }

    void Finish(UnitRun& run, std::optional<int> status, const std::string& outcome,
                const std::string& reason) {
        run.state = UnitRun::State::Ended;
        run.endedAt = std::chrono::system_clock::now();
        run.endedClock = Clock::now();
        run.exitStatus = status;
        run.outcome = outcome;
        run.succeeded = outcome == "succeeded";
        run.reason = reason;
        const Record record = UnitRecord(run, context);
        if (log != nullptr) {
            std::string error;
            if (!log->AppendLine(RecordLine(record), error)) {
                recordFailed = true;
                display.Notice("quorl-station: the record of the unit at " + run.unit.port +
                               " could not be written to the log: " + error);
            }
        }
        display.Ended(run, record);
    }

    const StationOptions& options;
    const StationTiming& timing;
    RunContext context;
    std::vector<std::string> imageSha256;
    platform::RecordFile* log;
    StationDisplay& display;
    std::vector<UnitRun> runs;
    std::vector<std::thread> readers;
    EventQueue queue;
    bool recordFailed;
};

}  // namespace

int RunStation(const std::vector<std::string>& arguments, const StationTiming& timing) {
    platform::KeepRunningWhenOutputCloses();
    const ParsedStationLine parsed = ParseStationLine(arguments);
    if (!parsed.options) {
        (parsed.status == 0 ? std::cout : std::cerr) << parsed.text << std::endl;
        return parsed.status;
    }
    const StationOptions& options = *parsed.options;
    if (options.worker) {
        return RunWorker(options);
    }
    std::vector<const char*> words = {"QuorlFirmwareUpdateApp"};
    for (const std::string& word : options.words) {
        words.push_back(word.c_str());
    }
    const Invocation invocation =
        ParseCommandLine(static_cast<int>(words.size()), words.data(), options.edition);
    if (const std::optional<std::string> refusal = StationRefusal(invocation)) {
        std::cerr << "quorl-station: " << *refusal << std::endl;
        return 2;
    }
    RunContext context;
    context.runId = NewRunId();
    context.host = platform::HostName();
    context.edition = options.edition;
    context.words = options.words;
    std::string unreadable;
    if (std::optional<std::vector<ImageFacts>> images = ImagesOf(invocation, unreadable)) {
        context.images = std::move(*images);
    } else {
        std::cerr << "quorl-station: Unable to open: " << unreadable << std::endl;
        return 2;
    }

    const std::vector<ListedDevice> survey = SurveyFamilyDevices(AccessTest::None);
    const std::vector<BenchUnit> bench = UnitsOnBench(survey);
    Selection selection = SelectUnits(options, invocation, bench);
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
    const StationDisplay::Mode mode = options.json                  ? StationDisplay::Mode::Json
                                      : platform::StdoutIsTerminal() ? StationDisplay::Mode::Terminal
                                                                     : StationDisplay::Mode::Lines;
    StationDisplay display(mode, std::cout, std::cerr, platform::StdoutColumns(),
                           ColoursWanted(mode));
    for (const std::string& line : selection.leftOut) {
        display.Notice("quorl-station: left out " + line);
    }
    std::sort(selection.units.begin(), selection.units.end(),
              [](const BenchUnit& a, const BenchUnit& b) { return PortOrder(a.port, b.port); });
    bool recordFailed = false;
    if (log) {
        std::string error;
        if (!log->AppendLine(RecordLine(RunRecord(context, options, selection)), error)) {
            recordFailed = true;
            display.Notice("quorl-station: the record of this run could not be written to the log: " +
                           error);
        }
    }
    stopRequests = 0;
    platform::OnStopRequest(OnStopRequest);
    Station station(options, timing, std::move(context), std::move(selection.units), log.get(),
                    display, recordFailed);
    const int status = station.Run();
    platform::StopRequestServed();
    return status;
}
