// The platform services over the simulator: sleeping moves virtual time.
#include "platform/Platform.h"
#include "sim/SimWorld.h"

namespace platform {

void SleepMs(std::uint32_t milliseconds) { sim::World::Get().Sleep(milliseconds); }

}  // namespace platform
