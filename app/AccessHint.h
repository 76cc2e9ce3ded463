#pragma once

// After a failed command: when a device the command looked for is present but
// refuses to open, says so in one line on standard error, naming the device,
// why it refused and what to do (on Linux, the udev rules that give access).
// Prints nothing otherwise.
void HintAtInaccessibleDevice();
