// What every simulated-device build's main does around its program: plugs
// in the devices that QUORL_SIM_DEVICES names (default: a wired controller
// running its application; "none" plugs in nothing, "help" lists them), runs
// the program, and with QUORL_SIM_SUMMARY=1 adds, on standard error, the
// virtual time and what each device saw. QUORL_SIM_BOUNDED=1 keeps the
// simulator's memory flat however large the image.
#pragma once

namespace sim {

using Program = int (*)(int argc, const char* const* argv);

// The program's exit status, or 2 after a bad QUORL_SIM_DEVICES.
int RunOverSimulatedDevices(int argc, const char* const* argv, Program program);

}  // namespace sim
