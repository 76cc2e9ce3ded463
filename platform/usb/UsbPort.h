// platform/usb: the USB devices present and the ports they sit on (Linux: udev; Windows: SetupAPI and the configuration manager).
// The physical USB port a device sits on: how one unit is followed from its
// application into its bootloader and back, since the port stays the same
// while the product ID changes. Linux names it as the kernel's usbhid does
// ("usb-0000:00:14.0-1.2": host controller, then the port chain); Windows
// gives the USB device's location path ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)").
#pragma once

#include <string>

namespace platform {

// The port of the USB device behind a HID device, by hidapi's path; empty
// when the system cannot tell (no such device, or not on USB).
std::string UsbPortOfHidDevice(const std::string& hidPath);

#ifndef _WIN32
// The port of the USB device whose terminal an open descriptor is (the tty of
// a USB serial function); empty when it is none or the system cannot tell.
std::string UsbPortOfOpenTerminal(int descriptor);
#endif

}  // namespace platform
