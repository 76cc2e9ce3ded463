#include "platform/process/WorkerProcess.h"

#include <atomic>
#include <mutex>
#include <thread>

#include <windows.h>

#include "platform/process/StopRequestWindows.h"
#include "platform/text/WideText.h"

namespace platform {

struct WorkerProcess::Handles {
    HANDLE process = nullptr;
    // The job that holds the worker and whatever it starts; null where the
    // system put the worker in no job of ours (see Start).
    HANDLE job = nullptr;
    HANDLE streams[2] = {nullptr, nullptr};
    bool waited = false;
};

std::string OwnExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return Utf8FromWide(path);
        }
        path.resize(path.size() * 2);
    }
}

namespace {

// One word of a command line as the C runtime's and CommandLineToArgvW's
// rules split it again: quoted, with backslashes doubled before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += word;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    handle = nullptr;
}

}  // namespace

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    std::string& error) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE reads[2] = {nullptr, nullptr};
    HANDLE writes[2] = {nullptr, nullptr};
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);
    auto fail = [&](DWORD code) -> std::unique_ptr<WorkerProcess> {
        error = SystemErrorText(code);
        for (int i = 0; i < 2; ++i) {
            CloseIfOpen(reads[i]);
            CloseIfOpen(writes[i]);
        }
        CloseIfOpen(input);
        return nullptr;
    };
    if (input == INVALID_HANDLE_VALUE) {
        return fail(GetLastError());
    }
    for (int i = 0; i < 2; ++i) {
        if (!CreatePipe(&reads[i], &writes[i], &inheritable, 0) ||
            !SetHandleInformation(reads[i], HANDLE_FLAG_INHERIT, 0)) {
            return fail(GetLastError());
        }
    }
    // Only these three handles reach the worker, so that a worker started
    // later holds no end of an earlier worker's pipes.
    HANDLE inherited[3] = {input, writes[0], writes[1]};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributeStorage(size, '\0');
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr)) {
        return fail(GetLastError());
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = writes[0];
    startup.StartupInfo.hStdError = writes[1];
    startup.lpAttributeList = attributes;

    const std::wstring path = WideFromUtf8(program);
    std::wstring line;
    AppendQuoted(line, path);
    for (const std::string& argument : arguments) {
        line += L' ';
        AppendQuoted(line, WideFromUtf8(argument));
    }
    PROCESS_INFORMATION info{};
    // Detached: no console at all, so none of this console's events reach the
    // worker, neither Ctrl+C nor Ctrl+Break nor its closing; its standard
    // streams are the handles above. (A console of its own without a window,
    // CREATE_NO_WINDOW, would cost a console host process per unit; the tool
    // starts no console program that would need one.) A process group of its
    // own on top, so that Ctrl+C is ignored in it from the start. Started
    // suspended until it is in its job.
    const BOOL started = CreateProcessW(
        path.c_str(), line.data(), nullptr, nullptr, TRUE,
        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
        nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD code = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!started) {
        return fail(code);
    }
    auto handles = std::make_unique<Handles>();
    handles->process = info.hProcess;
    // A job of its own, so that Kill ends whatever the worker started too and
    // no process of it is left holding its pipes. Not ended when the station
    // ends (no kill on close): a worker whose station died finishes its
    // command. Where the system allows no job here (the station runs in a
    // job that may not hold others), Kill ends the worker alone.
    handles->job = CreateJobObjectW(nullptr, nullptr);
    if (handles->job != nullptr && !AssignProcessToJobObject(handles->job, info.hProcess)) {
        CloseIfOpen(handles->job);
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    CloseIfOpen(input);
    CloseIfOpen(writes[0]);
    CloseIfOpen(writes[1]);
    handles->streams[Output] = reads[0];
    handles->streams[Error] = reads[1];
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::move(handles)));
}

WorkerProcess::WorkerProcess(std::unique_ptr<Handles> handles) : handles(std::move(handles)) {}

WorkerProcess::~WorkerProcess() {
    if (!handles->waited) {
        Kill();
        Wait();
    }
    // Whatever the worker left running goes with it.
    if (handles->job != nullptr) {
        TerminateJobObject(handles->job, 1);
    }
    CloseIfOpen(handles->streams[0]);
    CloseIfOpen(handles->streams[1]);
    CloseIfOpen(handles->job);
    CloseIfOpen(handles->process);
}

long WorkerProcess::Read(Stream stream, char* buffer, std::size_t size) {
    DWORD n = 0;
    if (!ReadFile(handles->streams[stream], buffer, static_cast<DWORD>(size), &n, nullptr)) {
        // The worker closed its end: the stream has ended.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<long>(n);
}

void WorkerProcess::Kill() {
    if (handles->waited) {
        return;
    }
    if (handles->job == nullptr || !TerminateJobObject(handles->job, 1)) {
        TerminateProcess(handles->process, 1);
    }
}

WorkerEnding WorkerProcess::Wait() {
    WorkerEnding ending;
    WaitForSingleObject(handles->process, INFINITE);
    handles->waited = true;
    DWORD code = 0;
    if (!GetExitCodeProcess(handles->process, &code)) {
        ending.description = "ended without an exit status";
        return ending;
    }
    // An exception that ended the process shows as its NTSTATUS code; -1,
    // the tool's own failure status, is no exception.
    if ((code & 0xC0000000u) == 0xC0000000u && code != 0xFFFFFFFFu) {
        char hex[16];
        wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(code));
        ending.description = std::string("ended by exception ") + hex;
        return ending;
    }
    ending.exited = true;
    ending.status = static_cast<int>(code);
    return ending;
}

namespace {

// What Windows gives a program to finish once its console closes (about
// 5 s), or the session ends (the shutdown time-out, 20 s at most): the
// system ends it then whatever it does, so waiting longer gains nothing.
constexpr DWORD kConsoleCloseMs = 5000;
constexpr DWORD kSessionEndMs = 20000;

std::atomic<void (*)()> stopHandler{nullptr};
// Set by StopRequestServed: manual reset, once set it stays.
std::atomic<HANDLE> stopServed{nullptr};

void CallStopHandler() {
    if (auto* handler = stopHandler.load()) {
        handler();
    }
}

// After a stop request that ends the program when this returns: the
// program's own record first.
void AwaitServed(DWORD boundMs) {
    if (const HANDLE served = stopServed.load(); served != nullptr) {
        WaitForSingleObject(served, boundMs);
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event) { return ServeConsoleEvent(event); }

// A program that loads user32.dll (SetupAPI does) is no longer sent the
// console's logoff and shutdown events: the end of the session comes as
// window messages to its top-level windows. A hidden one receives them.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The session ends as soon as this returns.
        if (wParam) {
            CallStopHandler();
            AwaitServed(kSessionEndMs);
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ReceiveSessionEnd() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuorlSessionEnd";
    if (RegisterClassW(&windowClass) == 0 ||
        CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                        nullptr, windowClass.hInstance, nullptr) == nullptr) {
        return;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
}

}  // namespace

int ServeConsoleEvent(unsigned long event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        CallStopHandler();
        return TRUE;
    case CTRL_CLOSE_EVENT:
        CallStopHandler();
        AwaitServed(kConsoleCloseMs);
        return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        CallStopHandler();
        AwaitServed(kSessionEndMs);
        return TRUE;
    default:
        return FALSE;
    }
}

void OnStopRequest(void (*handler)()) {
    stopHandler = handler;
    static std::once_flag registered;
    std::call_once(registered, [] {
        stopServed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
        std::thread(ReceiveSessionEnd).detach();
    });
}

namespace {

// Ctrl+C and Ctrl+Break pass; a console that closes, or a session that
// ends, ends the program after this returns whatever it answers.
BOOL WINAPI IgnoreConsoleEvent(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

// A worker has a console of its own that nobody signals (Start); this holds
// where a worker runs at someone's console all the same.
void IgnoreStopRequests() { SetConsoleCtrlHandler(IgnoreConsoleEvent, TRUE); }

void StopRequestServed() {
    if (const HANDLE served = stopServed.load(); served != nullptr) {
        SetEvent(served);
    }
}

// Windows has no such signal: a write to a closed pipe fails by itself.
void KeepRunningWhenOutputCloses() {}

std::string HostName() {
    wchar_t name[256];
    DWORD size = sizeof name / sizeof name[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        return {};
    }
    return Utf8FromWide(std::wstring(name, size));
}

}  // namespace platform
