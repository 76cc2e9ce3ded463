#include "platform/serial/PortWriter.h"
#include "platform/serial/SerialPortText.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

// Waits until the port can take output or the deadline passes.
bool WaitWritable(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd wanted{fd, POLLOUT, 0};
        const int ready = ::poll(&wanted, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return (wanted.revents & POLLOUT) != 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

bool WriteByteToPort(const std::string& path, std::uint8_t byte, int timeoutMs,
                     std::string* failure) {
    return WriteByteToPort(path, byte, timeoutMs, failure, {});
}

bool WriteByteToPort(const std::string& path, std::uint8_t byte, int timeoutMs,
                     std::string* failure,
                     const std::function<std::string(int descriptor)>& checkOpened) {
    // Non-blocking, so that neither the open (waiting for a carrier) nor the
    // write (a port that takes nothing) can hang the command.
    FileDescriptor port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (port.Get() < 0) {
        // A terminal that another program set exclusive (TIOCEXCL) is busy.
        return PortWriteFailed(failure, errno == EBUSY ? SerialPortInUse(path)
                                              : SerialPortError(path, std::strerror(errno)));
    }
    // Only a terminal receives the byte: a file that happens to carry the
    // port's name must not be changed.
    termios mode{};
    if (::tcgetattr(port.Get(), &mode) != 0) {
        return PortWriteFailed(failure, NotASerialPort(path));
    }
    if (checkOpened) {
        std::string refusal = checkOpened(port.Get());
        if (!refusal.empty()) {
            return PortWriteFailed(failure, std::move(refusal));
        }
    }
    // Raw, so that the byte goes out as it is; a port that refuses the mode
    // still gets the byte.
    ::cfmakeraw(&mode);
    mode.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(port.Get(), TCSANOW, &mode);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t written = ::write(port.Get(), &byte, 1);
        if (written == 1) {
            return true;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitWritable(port.Get(), deadline)) {
                continue;
            }
            return PortWriteFailed(failure, SerialPortTookNothing(path, timeoutMs));
        }
        return PortWriteFailed(failure, written < 0 ? SerialPortError(path, std::strerror(errno))
                                           : SerialPortTookNothing(path, timeoutMs));
    }
}

}  // namespace platform
