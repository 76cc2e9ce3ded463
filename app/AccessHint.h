#pragma once

#include <string>

#include "platform/access/DeviceAccess.h"

// After a failed command: when a device the command looked for is present but
// refuses to open, says so in one line on standard error, naming the device,
// why it refused and what to do (on Linux, the udev rules that give access).
// Prints nothing otherwise.
void HintAtInaccessibleDevice();

// That line, for a device that is present but refuses to open.
std::string InaccessibleDeviceHint(const platform::InaccessibleDevice& device);

// That line, for a node that is present but refuses the user.
std::string InaccessibleNodeHint(const std::string& node);
