#include "station/StationProgram.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
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

std::atomic<bool> interrupted{false};
void OnInterrupt() { interrupted = true; }

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

std::string SecondsText(std::chrono::milliseconds limit) {
    const auto seconds = limit.count() / 1000;
    return seconds * 1000 == limit.count() ? std::to_string(seconds) + " s"
                                           : std::to_string(limit.count()) + " ms";
}

class Station {
public:
    Station(const StationOptions& options, const StationTiming& timing, RunContext context,
            std::vector<BenchUnit> units, std::vector<std::string> portsAtStart,
            platform::RecordFile* log, StationDisplay& display)
        : options(options),
          timing(timing),
          context(std::move(context)),
          portsAtStart(std::move(portsAtStart)),
          log(log),
          display(display) {
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
        bool noticedInterrupt = false;
        while (Unfinished()) {
            if (interrupted && !noticedInterrupt) {
                noticedInterrupt = true;
                StopStarting();
            }
            if (!interrupted && Running() < options.jobs && Clock::now() >= nextStart) {
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
        display.Summary(runs);
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

    void StopStarting() {
        int running = Running();
        display.Notice("quorl-station: interrupted: no more units start; " +
                       std::to_string(running) + (running == 1 ? " unit finishes" : " units finish") +
                       " its command first");
        for (UnitRun& run : runs) {
            if (run.state == UnitRun::State::Waiting) {
                Finish(run, std::nullopt, "not started", "interrupted before it started");
            }
        }
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
                WorkerArguments(options, run.unit.port, run.unit.serialNumber, portsAtStart),
                error);
            if (!run.worker) {
                run.state = UnitRun::State::Running;
                Finish(run, std::nullopt, "failed", "its worker could not be started: " + error);
                return true;
            }
            run.state = UnitRun::State::Running;
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
        run.lastHeard = Clock::now();
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
                break;
        }
    }

    void AddLine(UnitRun& run, UnitLine line) {
        display.Line(run, line);
        run.lines.push_back(std::move(line));
    }

    // A worker that has said nothing for too long waits on a device that
    // will not answer: it is ended, and its streams then close.
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
        std::string reason;
        if (run.facts.contains("refusal")) {
            reason = run.facts["refusal"].get<std::string>();
        } else if (run.facts.contains("cameBackAt")) {
            reason = "came back at another port: " + run.facts["cameBackAt"].get<std::string>();
        } else if (!run.facts.contains("productIdsSeen")) {
            reason = "its worker ended without a word about its unit";
        } else if (ending.status != 0) {
            reason = LastOutputLine(run);
        }
        Finish(run, ending.status, reason.empty() ? "succeeded" : "failed", reason);
    }

    static std::string LastOutputLine(const UnitRun& run) {
        for (auto line = run.lines.rbegin(); line != run.lines.rend(); ++line) {
            if (line->stream != UnitLine::Stream::Worker) {
                return line->text;
            }
        }
        return "exit status without a line";
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
    std::vector<std::string> portsAtStart;
    platform::RecordFile* log;
    StationDisplay& display;
    std::vector<UnitRun> runs;
    std::vector<std::thread> readers;
    EventQueue queue;
    bool recordFailed = false;
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
    RunContext context;
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
    std::vector<std::string> portsAtStart;
    for (const BenchUnit& unit : bench) {
        portsAtStart.push_back(unit.port);
    }
    const StationDisplay::Mode mode = options.json                  ? StationDisplay::Mode::Json
                                      : platform::StdoutIsTerminal() ? StationDisplay::Mode::Terminal
                                                                     : StationDisplay::Mode::Lines;
    StationDisplay display(mode, std::cout, std::cerr, platform::StdoutColumns());
    for (const std::string& line : selection.leftOut) {
        display.Notice("quorl-station: left out " + line);
    }
    if (options.selection == StationOptions::Selection::All) {
        for (const ListedDevice& device : survey) {
            if (device.port.empty()) {
                display.Notice("quorl-station: left out the " + device.what.kind + " at " +
                               device.path + ": its USB port is unknown, so it cannot be followed");
            }
        }
    }
    interrupted = false;
    platform::OnConsoleInterrupt(OnInterrupt);
    Station station(options, timing, std::move(context), std::move(selection.units),
                    std::move(portsAtStart), log.get(), display);
    return station.Run();
}
