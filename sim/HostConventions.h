// Where the stack under the tool differs between Linux and Windows, in one
// place: hidapi 0.13's hidraw back end against hidapi 0.15's Windows back end
// over Windows' own HID driver, and how each system names devices and serial
// ports and explains a device that refuses the user. The simulator built for
// a system follows that system's conventions, so that the tests run there
// check the tool's logic for it, not another system's again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/DeviceAccess.h"

namespace sim {

enum class System { Linux, Windows };

struct HostConventions {
    System system;
    const char* name;

    // hidapi.
    // hidraw leaves errno set after a failed call: ENODEV once the device is
    // unplugged, EIO for a stalled transfer, ENOENT or EACCES for an open.
    // Windows' back end sets none: its failures are Win32 errors that only
    // hid_error tells (an unplugged device's transfers fail with "Access
    // denied" under Wine).
    bool setsErrno;
    // Windows' hid_open retries a device that refuses to open for reading
    // and writing (another program holds it, or the system keeps it) without
    // any access rights: the device opens, its feature reports pass (the HID
    // class driver's calls need no access rights), and its reads and writes
    // (file I/O) fail.
    bool opensWithoutAccess;
    // Windows pads every input report to the length the report descriptor
    // declares; hidraw hands over the bytes the device sent.
    bool padsInputReports;
    // Windows sends a feature or output report shorter than the declared
    // length padded with zeros to it, and the call returns the length given;
    // hidraw sends the bytes given.
    bool padsShortReports;

    // Names. The path hidapi gives a HID device: its hidraw node, the same for
    // every top-level collection of its report descriptor, or on Windows one
    // interface path per collection (collection 0 when it has only one).
    std::string (*hidPath)(std::uint16_t vendorId, std::uint16_t productId, std::size_t busPlace,
                           std::size_t collection, std::size_t collections);
    // A USB port, as the system names it (platform/usb/UsbPort.h): the host
    // controller the hubs hang from, then the chain of hub ports down to the
    // device (1, 2 is port 2 of the hub at the controller's port 1). Linux:
    // usbhid's text, "usb-" controller "-" ports joined by dots
    // ("usb-0000:00:14.0-1.2"); Windows: the USB device's location path,
    // the controller's, "#USBROOT(0)", then "#USB(n)" for each port.
    std::string (*usbPortName)(const std::string& hostController,
                               const std::vector<std::size_t>& chain);
    // The host controller the simulated hubs hang from: its PCI bus name on
    // Linux ("0000:00:14.0"), its location path on Windows.
    const char* hostController;
    // The serial port numbered n: /dev/ttyACMn or COMn; the ports of devices
    // plugged in without a name are numbered from the first one.
    std::string (*serialPortName)(std::size_t n);
    std::size_t firstSerialPort;
    // The USB listing gives a serial port's device node (Linux); Windows
    // names the port in the device's display name only.
    bool listsSerialNode;
    // A serial port's permissions say whether the user may open it (Linux);
    // Windows tells only by opening it, which the listing never does.
    bool serialAccessVisible;

    // How the system explains a HID device that refuses the user, and a node
    // or path that does.
    platform::InaccessibleDevice (*refusingHidDevice)(std::uint16_t vendorId,
                                                      std::uint16_t productId,
                                                      const std::string& path);
    platform::InaccessibleDevice (*deniedNode)(const std::string& node);
    // Why the restart byte could not be written to a serial port that
    // refuses the user (Linux: its node's permissions; Windows: another
    // program holds it) or that is not there, as the platform's port writer
    // says it.
    std::string (*refusingSerialPort)(const std::string& port);
    std::string (*missingSerialPort)(const std::string& port);
};

// The conventions of the system the simulator was built for.
const HostConventions& Host();

// Whether the process's own standard error is a terminal (a console on
// Windows), where the simulated-device build draws its progress bar:
// HostTerminalPosix.cpp or HostTerminalWindows.cpp, as CMake picks.
bool StderrIsHostTerminal();

}  // namespace sim
