#pragma once

// The device listing program: "quorl-devices [--json]". Prints what is
// connected and returns the exit status: 0 when at least one device of the
// family is listed, 1 when none is, 2 on a usage error.
int RunDeviceListing(int argc, const char* const* argv);
