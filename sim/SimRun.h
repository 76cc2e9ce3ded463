// What every simulated-device build's main does around its program: plugs
// in the devices that QUORL_SIM_DEVICES names (default: a wired controller
// running its application; "none" plugs in nothing, "help" lists them), runs
// the program, and with QUORL_SIM_SUMMARY=1 adds, on standard error, the
// virtual time and what each device saw. QUORL_SIM_BOUNDED=1 keeps the
// simulator's memory flat however large the image.
//
// QUORL_SIM_SHIFT=FILE plays a shift at a bench (Shift.h) while the program
// watches for USB devices (platform::UsbWatch): units plugged into hub ports
// and pulled out at set times, in seconds from the moment it starts
// watching, and perhaps the end of the shift, which asks the program to stop
// as Ctrl+C does. One event a line, "#" starts a comment:
//   at 0.5 plug controller port 3 serial QC7F0100
//   at 0.5 plug controller port 4 serial QC7F0101 verify-status=1
//   at 6 unplug port 3
//   at 30 stop
// A plug takes the settings of QUORL_SIM_DEVICES's entries (=help lists
// them), as key=value; a unit without a serial number gets its model's,
// numbered on for each unit after the first. With a shift, the bench starts
// empty unless QUORL_SIM_DEVICES names devices. Each time the shift changes
// the bench, QUORL_SIM_DEVICES of the process names the devices then present,
// so that a worker it starts finds its unit at its port. A bad file is named
// with its line and the reason, and the program does not start (status 2).
// QUORL_SIM_SHIFT_SPEED=N plays the shift N times as fast (N from 0.001 to
// 1000000; times in the file go up to 1000000 s).
#pragma once

namespace sim {

using Program = int (*)(int argc, const char* const* argv);

// The program's exit status, or 2 after a bad QUORL_SIM_DEVICES or shift.
int RunOverSimulatedDevices(int argc, const char* const* argv, Program program);

}  // namespace sim
