// One station at a time on a USB port: a worker holds an exclusive claim on
// its unit's port for its whole command, so that a second station on the
// same computer that selects the port leaves the unit alone. The system
// drops a claim when its process ends, however it ends.
//   Linux: flock on a file named after the port under /run/lock/quorl, or
//   under $XDG_RUNTIME_DIR/quorl when that is not writable; the file holds
//   the holder's process ID.
//   Windows: a named mutex in the session namespace (Local\), and the
//   holder's process ID beside it.
// QUORL_PORT_CLAIMS names another directory (POSIX) or name prefix
// (Windows): simulated benches use their own, so that a rehearsal never
// holds a real port, and tests that run side by side do not meet.
#pragma once

#include <memory>
#include <string>

namespace platform {

class PortClaim {
public:
    // The claim on the port, or null: another process holds it (its process
    // ID in holderPid, 0 when it cannot be told), or no claim could be made
    // (holderPid 0, the system's reason in error).
    static std::unique_ptr<PortClaim> Take(const std::string& port, long& holderPid,
                                           std::string& error);
    ~PortClaim();
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    struct Handle;

private:
    explicit PortClaim(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle;
};

}  // namespace platform
