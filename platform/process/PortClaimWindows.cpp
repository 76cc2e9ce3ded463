#include "platform/process/PortClaim.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>

#include <windows.h>

#include "platform/text/WideText.h"

namespace platform {

// The claim is a named mutex that the worker owns: when its process ends
// without letting go, the system abandons the mutex and the next station
// that waits for it owns it. A mutex belongs to the thread that took it, so
// a claim is let go on that thread (elsewhere it holds until that thread
// ends). Beside it, a named mapping of a few bytes holds the holder's
// process ID for a second station to name.
struct PortClaim::Handle {
    std::wstring name;
    HANDLE mutex = nullptr;
    HANDLE holderMapping = nullptr;
    volatile LONG* holderPid = nullptr;
};

namespace {

// A kernel object's name is at most MAX_PATH characters and takes no
// backslash after its namespace ("Local\").
constexpr std::size_t kLongestPortPart = 160;

// A USB port's location path ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)")
// holds no backslash; any other text is escaped, backslash as "%5C" and '%'
// as "%25", so that two ports never share a name. A text too long for a
// name keeps its start and ends with a hash of the whole (FNV-1a).
std::string NamePartOf(const std::string& port) {
    std::string part;
    for (const char c : port) {
        part += c == '\\' ? std::string("%5C") : c == '%' ? std::string("%25") : std::string(1, c);
    }
    if (part.size() <= kLongestPortPart) {
        return part;
    }
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : port) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char hex[20];
    wsprintfA(hex, "~%08lX%08lX", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    return part.substr(0, kLongestPortPart - 17) + hex;
}

// In this user's session; QUORL_PORT_CLAIMS names another prefix.
std::wstring ClaimName(const std::string& port) {
    const char* chosen = std::getenv("QUORL_PORT_CLAIMS");
    const std::string prefix = chosen != nullptr && *chosen ? chosen : "Local\\quorl-port-";
    return WideFromUtf8(prefix + NamePartOf(port));
}

std::wstring HolderName(const std::wstring& claimName) { return claimName + L".holder"; }

// The claims this process holds: the mutex would let its owner in again, a
// second claim of this process on the port is refused as another process's.
std::mutex heldLock;
std::set<std::wstring> held;

// The process ID that the holder published, 0 when there is none (yet).
long PublishedHolder(const std::wstring& claimName) {
    const HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, HolderName(claimName).c_str());
    if (mapping == nullptr) {
        return 0;
    }
    long pid = 0;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(LONG))) {
        pid = *static_cast<const volatile LONG*>(view);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return pid;
}

}  // namespace

std::unique_ptr<PortClaim> PortClaim::Take(const std::string& port, long& holderPid,
                                           std::string& error) {
    holderPid = 0;
    auto handle = std::make_unique<Handle>();
    handle->name = ClaimName(port);
    {
        const std::lock_guard<std::mutex> lock(heldLock);
        if (held.count(handle->name) != 0) {
            holderPid = static_cast<long>(GetCurrentProcessId());
            return nullptr;
        }
    }
    handle->mutex = CreateMutexW(nullptr, FALSE, handle->name.c_str());
    if (handle->mutex == nullptr) {
        error = Utf8FromWide(handle->name) + ": " + SystemErrorText(GetLastError());
        return nullptr;
    }
    // Owned, or abandoned by a holder that ended: either way this one's now.
    const DWORD taken = WaitForSingleObject(handle->mutex, 0);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) {
        if (taken == WAIT_TIMEOUT) {
            holderPid = PublishedHolder(handle->name);
        } else {
            error = Utf8FromWide(handle->name) + ": " + SystemErrorText(GetLastError());
        }
        CloseHandle(handle->mutex);
        return nullptr;
    }
    // Without it the claim still holds; a second station cannot name the holder.
    handle->holderMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), HolderName(handle->name).c_str());
    if (handle->holderMapping != nullptr) {
        handle->holderPid = static_cast<volatile LONG*>(
            MapViewOfFile(handle->holderMapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    }
    if (handle->holderPid != nullptr) {
        InterlockedExchange(handle->holderPid, static_cast<LONG>(GetCurrentProcessId()));
    }
    const std::lock_guard<std::mutex> lock(heldLock);
    held.insert(handle->name);
    return std::unique_ptr<PortClaim>(new PortClaim(std::move(handle)));
}

PortClaim::PortClaim(std::unique_ptr<Handle> handle) : handle(std::move(handle)) {}

PortClaim::~PortClaim() {
    // No stale holder for a station that looks between these steps.
    if (handle->holderPid != nullptr) {
        InterlockedExchange(handle->holderPid, 0);
        UnmapViewOfFile(const_cast<LONG*>(handle->holderPid));
    }
    if (handle->holderMapping != nullptr) {
        CloseHandle(handle->holderMapping);
    }
    ReleaseMutex(handle->mutex);
    CloseHandle(handle->mutex);
    const std::lock_guard<std::mutex> lock(heldLock);
    held.erase(handle->name);
}

}  // namespace platform
