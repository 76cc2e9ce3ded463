// Operating-system services that the commands need besides hidapi.
// The product links the Linux implementation; the simulator implements the
// same functions over virtual time and simulated devices.
#pragma once

#include <cstdint>

namespace platform {

// Blocks the calling thread for the given number of milliseconds.
void SleepMs(std::uint32_t milliseconds);

}  // namespace platform
