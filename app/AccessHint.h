#pragma once

#include <string>

// After a failed command: when a device the command looked for is present but
// its node refuses the user, says so in one line on standard error, naming the
// node and the udev rules that give access. Prints nothing otherwise.
void HintAtInaccessibleDevice();

// That line, for a node that is present but refuses the user.
std::string InaccessibleNodeHint(const std::string& node);
