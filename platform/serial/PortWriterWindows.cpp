#include "platform/serial/PortWriter.h"

#include <memory>
#include <utility>

#include <windows.h>

#include "platform/serial/SerialPortText.h"
#include "platform/text/WideText.h"

namespace platform {

namespace {

struct HandleClose {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleClose>;

// COM1 to COM9 also open by their bare names, COM10 and above only in the
// device namespace; that form serves every port.
std::wstring PortPath(const std::string& portName) {
    const std::wstring name = WideFromUtf8(portName);
    return name.rfind(L"\\\\.\\", 0) == 0 ? name : L"\\\\.\\" + name;
}

}  // namespace

std::string ComPortFailure(const std::string& portName, unsigned long error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        return SerialPortInUse(portName);
    }
    return SerialPortError(portName, SystemErrorText(error));
}

bool WriteByteToPort(const std::string& portName, std::uint8_t byte, int timeoutMs,
                     std::string* failure) {
    return WriteByteToPort(portName, byte, timeoutMs, failure, {});
}

bool WriteByteToPort(const std::string& portName, std::uint8_t byte, int timeoutMs,
                     std::string* failure, const std::function<std::string(void* port)>& checkOpened) {
    const DWORD timeout = static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0);
    const HANDLE opened = CreateFileW(PortPath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return PortWriteFailed(failure, ComPortFailure(portName, GetLastError()));
    }
    const OwnedHandle port(opened);
    // Only a serial port receives the byte: anything else of that name is
    // left untouched.
    DCB state{};
    state.DCBlength = sizeof state;
    if (!GetCommState(opened, &state)) {
        return PortWriteFailed(failure, NotASerialPort(portName));
    }
    // Checked while the port is held, so that its name cannot pass to
    // another device before the byte goes.
    if (checkOpened) {
        std::string refusal = checkOpened(opened);
        if (!refusal.empty()) {
            return PortWriteFailed(failure, std::move(refusal));
        }
    }
    // Binary, no flow control holding the byte back, the modem lines raised as
    // an open raises them elsewhere; a port that refuses the settings still
    // gets the byte.
    state.fBinary = TRUE;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fOutX = FALSE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    SetCommState(opened, &state);
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = timeout;
    SetCommTimeouts(opened, &timeouts);

    OVERLAPPED write{};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (write.hEvent == nullptr) {
        return PortWriteFailed(failure, ComPortFailure(portName, GetLastError()));
    }
    const OwnedHandle writeDone(write.hEvent);
    if (!WriteFile(opened, &byte, 1, nullptr, &write)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return PortWriteFailed(failure, ComPortFailure(portName, error));
        }
        // A port that never drains must not hang the command, whatever its
        // driver makes of the time-outs above: the byte is given up.
        if (WaitForSingleObject(write.hEvent, timeout) != WAIT_OBJECT_0) {
            CancelIoEx(opened, &write);
        }
    }
    // Done at once or after the wait, the overlapped result has the count:
    // for overlapped I/O the count WriteFile itself gives is not to be relied
    // on (Wine gave 0 for a byte that a plain WriteFile did write). The write
    // has ended, done or cancelled, before its byte and event go.
    DWORD dwBytesWritten = 0;
    if (!GetOverlappedResult(opened, &write, &dwBytesWritten, TRUE)) {
        const DWORD error = GetLastError();
        return PortWriteFailed(failure, error == ERROR_OPERATION_ABORTED
                                            ? SerialPortTookNothing(portName, timeoutMs)
                                            : ComPortFailure(portName, error));
    }
    return dwBytesWritten == 1 || PortWriteFailed(failure, SerialPortTookNothing(portName, timeoutMs));
}

}  // namespace platform
