#include "testsupport/posix/ChildProcess.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

int ExitStatus(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }

int WaitStatus(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return ExitStatus(status);
}

// Everything the child wrote to the terminal. A read of the terminal's far
// end can come back empty or failed while the child still runs, and the
// kernel may still hold output when the child is gone: reading goes on until
// the child has exited, then until the terminal holds nothing more.
std::string ReadTerminal(int master, pid_t child, int& exitStatus) {
    std::string text;
    char buffer[4096];
    for (bool exited = false; !exited;) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 10) > 0 && (ready.revents & POLLIN) != 0) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
        }
        int status = 0;
        exited = waitpid(child, &status, WNOHANG) == child;
        if (exited) {
            exitStatus = ExitStatus(status);
        } else if ((ready.revents & (POLLHUP | POLLERR)) != 0) {
            usleep(1000);  // the terminal hung up before the child's exit
        }
    }
    // Drained: once the child is gone, a read never waits; it ends with
    // EIO (or EAGAIN should another process still hold the terminal).
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

[[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& args,
                       const Environment& environment) {
    for (const auto& [name, value] : environment) {
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

ChildOutput RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const Environment& environment, int columns) {
    int master = -1;
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        Exec(program, args, environment);
    }
    ChildOutput output;
    if (child < 0) {
        return output;
    }
    output.out = ReadTerminal(master, child, output.status);
    close(master);
    return output;
}

ChildOutput RunOnPipes(const std::string& program, const std::vector<std::string>& args,
                       const Environment& environment, const char* outputFile) {
    int out[2];
    int err[2];
    ChildOutput output;
    if (pipe(out) != 0) {
        return output;
    }
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return output;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(outputFile != nullptr ? open(outputFile, O_WRONLY) : out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        Exec(program, args, environment);
    }
    close(out[1]);
    close(err[1]);
    output.out = ReadAll(out[0]);  // small enough not to fill the other pipe
    output.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    if (child > 0) {
        output.status = WaitStatus(child);
    }
    return output;
}
