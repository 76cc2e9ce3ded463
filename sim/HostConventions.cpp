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

// The hub port's devpath under the host controller at PCI 00:14.0.
std::string LinuxUsbPort(std::size_t n) { return "usb-0000:00:14.0-" + std::to_string(n); }

// The first of the USB device's location paths, below the same controller.
std::string WindowsUsbPort(std::size_t n) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(n) + ")";
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
