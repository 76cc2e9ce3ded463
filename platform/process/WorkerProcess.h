// platform/process: worker processes and what a program loads (System32 DLLs only on Windows).
// A program's own worker processes, where operating systems differ: started
// with their standard output and standard error on pipes of their own, read
// by the caller, ended when they stop answering, and waited for.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The path of the running program's own executable, to start it again as a
// worker: the file itself, not the word it was started by.
std::string OwnExecutablePath();

// How a worker ended.
struct WorkerEnding {
    bool exited = false;      // it returned an exit status
    int status = 0;           // that status, as the system passes it on
    std::string description;  // otherwise what ended it, such as "killed by signal 9 (Killed)"
};

class WorkerProcess {
public:
    enum Stream { Output = 0, Error = 1 };

    // Starts the program with the arguments (its path not among them). The
    // worker does not get the console's Ctrl+C: it runs in a process group
    // of its own, so that an interrupt stops the caller from starting new
    // work, not a worker in the middle of a command. Null, with the
    // system's reason in error, when it could not be started.
    static std::unique_ptr<WorkerProcess> Start(const std::string& program,
                                                const std::vector<std::string>& arguments,
                                                std::string& error);
    // Ends a worker that still runs, and releases everything.
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Waits for bytes on one of the worker's streams: the count read, 0 at
    // the stream's end (the worker closed it or ended), -1 on an error.
    // Each stream may be read from its own thread.
    long Read(Stream stream, char* buffer, std::size_t size);
    // Ends the worker at once, wherever it is.
    void Kill();
    // Waits until the worker has ended.
    WorkerEnding Wait();

    struct Handles;

private:
    explicit WorkerProcess(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles;
};

// Calls the handler each time the program is asked to stop: Ctrl+C at its
// console, and on POSIX SIGTERM and SIGHUP (a service manager, a terminal
// that closed); on Windows Ctrl+Break and the console's close, logoff and
// shutdown events too. The handler runs in a signal handler or on another
// thread: it may only touch atomics.
void OnStopRequest(void (*handler)());

// A worker's own: it ignores every stop request (a service manager may signal
// the station's whole group), so that a unit is never left between an erase
// and its writes; its station ends it when it must.
void IgnoreStopRequests();

// The program has recorded what it could after a stop request. On Windows a
// console that closes, a logoff or a shutdown ends the program as soon as its
// handler returns: the handler waits for this (as long as the system gives).
// Elsewhere it does nothing.
void StopRequestServed();

// A write to a pipe whose reader is gone fails instead of ending the
// program: a station whose output was closed goes on recording its units,
// and a worker whose station died finishes its command (a unit is never left
// between an erase and its writes).
void KeepRunningWhenOutputCloses();

// This computer's name, for the records of a station.
std::string HostName();

}  // namespace platform
