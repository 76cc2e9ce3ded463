#include "sim/HostConventions.h"

#include <cstdio>

#include "platform/access/LinuxAccessText.h"
#include "platform/serial/SerialPortText.h"
#include "platform/access/WindowsAccessText.h"

namespace sim {

namespace {

// hidraw: one node per device, /dev/hidrawN, shared by all its collections.
std::string HidrawNode(std::uint16_t, std::uint16_t, std::size_t busPlace, std::size_t,
                       std::size_t) {
    return "/dev/hidraw" + std::to_string(busPlace);
}

// The interface path that SetupAPI gives, lower case as hidapi passes it on:
// \\?\hid#vid_28de&pid_1102#7&1a2b0000&0&0000#{4d1e55b2-...}, with &col01,
// &col02, ... after the IDs of a device with several top-level collections.
std::string WindowsInterfacePath(std::uint16_t vendorId, std::uint16_t productId,
                                 std::size_t busPlace, std::size_t collection,
                                 std::size_t collections) {
    char collectionPart[16] = "";
    if (collections > 1) {
        std::snprintf(collectionPart, sizeof collectionPart, "&col%02u",
                      static_cast<unsigned>(collection + 1));
    }
    char path[128];
    std::snprintf(path, sizeof path,
                  "\\\\?\\hid#vid_%04x&pid_%04x%s#7&1a2b%04x&0&0000#"
                  "{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId), collectionPart,
                  static_cast<unsigned>(busPlace));
    return path;
}

// usbhid's HID_PHYS without the interface: the controller's bus name and
// the devpath, the hub ports joined by dots.
std::string LinuxUsbPort(const std::string& hostController, const std::vector<std::size_t>& chain) {
    std::string devpath;
    for (const std::size_t port : chain) {
        devpath += (devpath.empty() ? "" : ".") + std::to_string(port);
    }
    return "usb-" + hostController + "-" + devpath;
}

// The first of the USB device's location paths: the controller's, its root
// hub, then one step for each hub port.
std::string WindowsUsbPort(const std::string& hostController,
                           const std::vector<std::size_t>& chain) {
    std::string path = hostController + "#USBROOT(0)";
    for (const std::size_t port : chain) {
        path += "#USB(" + std::to_string(port) + ")";
    }
    return path;
}

std::string TtyAcm(std::size_t n) { return "/dev/ttyACM" + std::to_string(n); }
std::string ComPort(std::size_t n) { return "COM" + std::to_string(n); }

platform::InaccessibleDevice LinuxRefusingDevice(std::uint16_t, std::uint16_t,
                                                 const std::string& path) {
    return platform::LinuxDeniedNode(path);
}

platform::InaccessibleDevice WindowsRefusingDevice(std::uint16_t vendorId, std::uint16_t productId,
                                                   const std::string&) {
    return platform::WindowsDeviceInUse(vendorId, productId);
}

// The port writers' lines: strerror's texts on Linux (glibc's), the system's
// messages on Windows, where a port held by another program is refused.
std::string TtyDenied(const std::string& port) {
    return platform::SerialPortError(port, "Permission denied");
}
std::string TtyMissing(const std::string& port) {
    return platform::SerialPortError(port, "No such file or directory");
}
std::string ComPortMissing(const std::string& port) {
    return platform::SerialPortError(port, "The system cannot find the file specified");
}

// Both tables compile on either system, so that a change to the conventions
// cannot leave the other system's behind; only one is used.

// hidapi 0.13.1 with Linux 6.1's hidraw, as Debian 12 has them.
[[maybe_unused]] constexpr HostConventions kLinux = {
    .system = System::Linux,
    .name = "Linux (hidapi 0.13, hidraw)",
    .setsErrno = true,
    .opensWithoutAccess = false,
    .padsInputReports = false,
    .padsShortReports = false,
    .hidPath = HidrawNode,
    .usbPortName = LinuxUsbPort,
    .hostController = "0000:00:14.0",
    .serialPortName = TtyAcm,
    .firstSerialPort = 0,
    .listsSerialNode = true,
    .serialAccessVisible = true,
    .refusingHidDevice = LinuxRefusingDevice,
    .deniedNode = platform::LinuxDeniedNode,
    .refusingSerialPort = TtyDenied,
    .missingSerialPort = TtyMissing,
};

// hidapi 0.15.0's windows/hid.c over Windows' HID class driver. A device that
// refuses the user is one another program holds: COM1 and COM2 are taken by
// the classic ports, so USB serial ports start at COM3.
[[maybe_unused]] constexpr HostConventions kWindows = {
    .system = System::Windows,
    .name = "Windows (hidapi 0.15, winapi)",
    .setsErrno = false,
    .opensWithoutAccess = true,
    .padsInputReports = true,
    .padsShortReports = true,
    .hidPath = WindowsInterfacePath,
    .usbPortName = WindowsUsbPort,
    .hostController = "PCIROOT(0)#PCI(1400)",
    .serialPortName = ComPort,
    .firstSerialPort = 3,
    .listsSerialNode = false,
    .serialAccessVisible = false,
    .refusingHidDevice = WindowsRefusingDevice,
    .deniedNode = platform::WindowsDeniedNode,
    .refusingSerialPort = platform::SerialPortInUse,
    .missingSerialPort = ComPortMissing,
};

}  // namespace

const HostConventions& Host() {
#ifdef _WIN32
    return kWindows;
#else
    return kLinux;
#endif
}

}  // namespace sim
