#pragma once

// The device listing program: "quorl-devices [--json] [--watch]". Prints
// what is connected and returns the exit status: 0 when at least one device
// of the family is listed, 1 when none is, 2 on a usage error. With --watch
// it prints arrivals and removals until stopped (DeviceWatch.h), then 0.
int RunDeviceListing(int argc, const char* const* argv);
