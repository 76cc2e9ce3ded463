// The console over the simulator: the clock is virtual time; whether standard
// error is a terminal is the real answer unless a test says otherwise.
#include "platform/console/Console.h"
#include "sim/HostConventions.h"
#include "sim/SimWorld.h"

namespace platform {

bool StderrIsTerminal() {
    const sim::World& world = sim::World::Get();
    return world.stderrIsTerminal.value_or(sim::StderrIsHostTerminal());
}

int StderrColumns() { return sim::World::Get().terminalColumns; }

std::uint64_t MonotonicMs() { return sim::World::Get().NowMs(); }

}  // namespace platform
