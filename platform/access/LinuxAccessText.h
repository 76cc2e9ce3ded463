// A device node (hidraw, or the Tivane's serial port) that refuses the user,
// as the Linux platform and the simulator, which stands for Linux, explain
// it: the udev rules give access.
#pragma once

#include <string>

#include "platform/access/DeviceAccess.h"

namespace platform {

inline InaccessibleDevice LinuxDeniedNode(const std::string& node) {
    return {node, "permission denied",
            "install 60-quorl-firmware.rules into /etc/udev/rules.d, run \"udevadm control "
            "--reload\" and replug the device"};
}

}  // namespace platform
