// The USB port of a node of Windows' device tree, for every Windows file that
// starts from a device node of its own (a HID collection, a COM port).
#pragma once

#include <string>

#include <windows.h>
#include <cfgmgr32.h>

namespace platform {

// The first location path of the USB device at or above the node
// (UsbPort.h); empty when the system cannot tell, or when the node sits on a
// Bluetooth link, whose USB device is the computer's radio.
std::string UsbPortOfDeviceNode(DEVINST node);

// The port of the USB device whose COM port bears the name ("COM5", also in
// the device namespace, "\\.\COM5"): the present port of that name, by the
// name its driver recorded, then UsbPortOfDeviceNode. Empty when no present
// port has the name, or it is on no USB port.
std::string UsbPortOfComPort(const std::string& portName);

}  // namespace platform
