#include "platform/process/WorkerProcess.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

struct WorkerProcess::Handles {
    pid_t pid = -1;
    int streams[2] = {-1, -1};
    bool reaped = false;
};

std::string OwnExecutablePath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

namespace {

void ClosePair(int pair[2]) {
    for (int i = 0; i < 2; ++i) {
        if (pair[i] >= 0) {
            close(pair[i]);
            pair[i] = -1;
        }
    }
}

}  // namespace

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    std::string& error) {
    // Close-on-exec, so that a worker started later holds no end of an
    // earlier worker's pipes (its reader would never see the end).
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ClosePair(out);
        ClosePair(err);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Nothing else the station holds reaches a worker, whether or not it was
    // opened close-on-exec: a record file, a browser's connection to the
    // station's page.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own: the terminal's Ctrl+C goes to the
    // foreground group, the station's, and not to its workers.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        error = std::strerror(spawned);
        close(out[0]);
        close(err[0]);
        return nullptr;
    }
    auto handles = std::make_unique<Handles>();
    handles->pid = pid;
    handles->streams[Output] = out[0];
    handles->streams[Error] = err[0];
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::move(handles)));
}

WorkerProcess::WorkerProcess(std::unique_ptr<Handles> handles) : handles(std::move(handles)) {}

WorkerProcess::~WorkerProcess() {
    if (!handles->reaped) {
        Kill();
        Wait();
    }
    ClosePair(handles->streams);
}

long WorkerProcess::Read(Stream stream, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = read(handles->streams[stream], buffer, size);
        if (n >= 0 || errno != EINTR) {
            return static_cast<long>(n);
        }
    }
}

void WorkerProcess::Kill() {
    if (!handles->reaped) {
        // The whole process group the worker leads (Start gives it one): a
        // child it started would otherwise live on, holding its pipes open.
        if (kill(-handles->pid, SIGKILL) != 0) {
            kill(handles->pid, SIGKILL);
        }
    }
}

WorkerEnding WorkerProcess::Wait() {
    WorkerEnding ending;
    int status = 0;
    while (waitpid(handles->pid, &status, 0) < 0 && errno == EINTR) {
    }
    handles->reaped = true;
    if (WIFEXITED(status)) {
        ending.exited = true;
        ending.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = strsignal(signal);
        ending.description = "killed by signal " + std::to_string(signal) + " (" +
                             (name != nullptr ? name : "unknown") + ")";
    } else {
        ending.description = "ended without an exit status";
    }
    return ending;
}

namespace {

void (*interruptHandler)() = nullptr;

void OnSignal(int) {
    if (interruptHandler != nullptr) {
        interruptHandler();
    }
}

}  // namespace

void OnStopRequest(void (*handler)()) {
    interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

void StopRequestServed() {}

void IgnoreStopRequests() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, SIG_IGN);
    }
}

void KeepRunningWhenOutputCloses() { std::signal(SIGPIPE, SIG_IGN); }

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace platform
