// A simulated shift at a bench (QUORL_SIM_SHIFT=FILE): units plugged into
// hub ports and pulled out again at set times, then perhaps the end of the
// shift. One event a line, times in seconds from the moment the program
// starts watching for USB devices, in order; "#" starts a comment:
//   at 0.5 plug controller port 3 serial QC7F0100
//   at 0.5 plug controller port 4 serial QC7F0101 verify-status=1
//   at 6 unplug port 3
//   at 30 stop
// "plug KIND port P [serial S] [key=value...]" plugs in what the entry
// "KIND:at=P:serial=S:key=value" of QUORL_SIM_DEVICES would; "unplug port P"
// takes out every device at port P; "stop" asks the program to stop as
// Ctrl+C does.
//
// The events are played on the real monotonic clock, on the thread that
// watches (platform::UsbWatch), which is the thread that surveys: nothing
// changes under a survey.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace sim {

using ShiftClock = std::chrono::steady_clock;

// Reads and checks the shift in the file, played `speed` times as fast
// (QUORL_SIM_SHIFT_SPEED); false with "FILE:LINE: REASON" when it is bad.
// The devices it plugs in are checked against the simulator's models.
bool LoadShift(const std::string& path, double speed, std::string& error);

// Its clock starts now, unless it has started already (the first watch).
void StartShift();

// Plays every event due by now: the world changes, QUORL_SIM_DEVICES of
// this process names the devices present after it (for the workers it
// starts), and a stop asks the program to stop. True when any was played.
bool PlayShift();

// When the next event is due; none when the shift has no more, or has
// not started.
std::optional<ShiftClock::time_point> NextShiftEvent();

// No shift: what a test in the same process starts from.
void ForgetShift();

}  // namespace sim
