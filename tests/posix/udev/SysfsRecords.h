// Sysfs trees for umockdev, in its record format, for the tests and the
// benchmark of the real Linux listings: USB devices below the host
// controller 0000:00:14.0 on bus 1, their interfaces, HID devices with their
// hidraw nodes, and terminals. And the start of a program under umockdev's
// preload library, which must be loaded before the program starts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace sysfs {

constexpr const char* kHostController = "/devices/pci0000:00/0000:00:14.0";
constexpr const char* kRootHub = "/devices/pci0000:00/0000:00:14.0/usb1";

// One device: its syspath below /sys, then its properties ("E: KEY=value"),
// attributes ("A: name=value") and node ("N: name"), one a line.
inline std::string Record(const std::string& syspath, const std::vector<std::string>& lines) {
    std::string record = "P: " + syspath + "\n";
    for (const std::string& line : lines) {
        record += line + "\n";
    }
    return record + "\n";
}

// A USB device's place below the root hub, the hubs between included, as a
// path: "2" is the device at port 2, "4/1-4.1" the one at port 1 of the hub
// at port 4. Its syspath, its sysfs name ("1-4.1") and its devpath ("4.1").
inline std::string At(const std::string& place) { return std::string(kRootHub) + "/1-" + place; }
inline std::string Sysname(const std::string& place) {
    const std::size_t slash = place.rfind('/');
    return slash == std::string::npos ? "1-" + place : place.substr(slash + 1);
}
inline std::string Devpath(const std::string& place) { return Sysname(place).substr(2); }

// usbhid's name of a port, as HID_PHYS gives it without "/inputN".
inline std::string Port(const std::string& devpath) { return "usb-0000:00:14.0-" + devpath; }

// The host controller and its root hub, the top of every tree.
inline std::string HostController() {
    return Record(kHostController, {"E: SUBSYSTEM=pci"}) +
           Record(kRootHub, {"E: SUBSYSTEM=usb", "E: DEVTYPE=usb_device", "A: devpath=0",
                             "A: busnum=1", "A: idVendor=1d6b", "A: idProduct=0002",
                             "A: bcdDevice=0601", "A: product=xHCI Host Controller"});
}

// A USB device with its descriptor's attributes ("A: idVendor=28de").
inline std::string UsbDevice(const std::string& place, const std::vector<std::string>& attributes) {
    std::vector<std::string> lines = {"E: SUBSYSTEM=usb", "E: DEVTYPE=usb_device",
                                      "A: devpath=" + Devpath(place), "A: busnum=1"};
    lines.insert(lines.end(), attributes.begin(), attributes.end());
    return Record(At(place), lines);
}

inline std::string UsbInterface(const std::string& syspath, const char* interfaceClass,
                                int number) {
    char name[8];
    std::snprintf(name, sizeof name, "%02x", number);
    return Record(syspath, {"E: SUBSYSTEM=usb", "E: DEVTYPE=usb_interface",
                            std::string("A: bInterfaceClass=") + interfaceClass,
                            std::string("A: bInterfaceNumber=") + name});
}

// A HID device (usbhid's or uhid's) with its uevent's lines
// ("HID_ID=0003:000028DE:00001102") and its hidraw node N.
inline std::string HidWithNode(const std::string& syspath, const std::vector<std::string>& uevent,
                               int node) {
    std::vector<std::string> lines = {"E: SUBSYSTEM=hid"};
    for (const std::string& line : uevent) {
        lines.push_back("E: " + line);
    }
    const std::string name = "hidraw" + std::to_string(node);
    return Record(syspath, lines) +
           Record(syspath + "/hidraw/" + name,
                  {"N: " + name, "E: SUBSYSTEM=hidraw", "E: DEVNAME=/dev/" + name,
                   "A: dev=245:" + std::to_string(node)});
}

// What usbhid says of a HID device: HID_ID's bus, vendor and product
// ("0003:000028DE:00001102") and HID_NAME.
struct HidIdentity {
    const char* id;
    const char* name;
};

// A HID interface of the USB device at a place, with its HID device
// ("0003:28DE:1102.0001") and hidraw node N; HID_UNIQ is the serial number.
inline std::string HidInterface(const std::string& place, int number,
                                const std::string& hidSysname, const HidIdentity& identity,
                                const std::string& uniq, int node) {
    const std::string interface = At(place) + "/" + Sysname(place) + ":1." + std::to_string(number);
    return UsbInterface(interface, "03", number) +
           HidWithNode(interface + "/" + hidSysname,
                       {std::string("HID_ID=") + identity.id,
                        std::string("HID_NAME=") + identity.name,
                        "HID_PHYS=" + Port(Devpath(place)) + "/input" + std::to_string(number),
                        "HID_UNIQ=" + uniq},
                       node);
}

inline std::string Terminal(const std::string& syspath, const std::string& name, int minor) {
    return Record(syspath, {"N: " + name, "E: SUBSYSTEM=tty", "E: DEVNAME=/dev/" + name,
                            "A: dev=166:" + std::to_string(minor)});
}

// Starts the program again with umockdev's preload library, which redirects
// /sys and /dev to the testbed, unless it is loaded already; returns only
// then. AddressSanitizer wants its own library first: the preload library
// does not need its interceptors, so its check of the order is turned off.
inline void RunUnderUmockdev(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) {
        return;
    }
    std::string libraries = "libumockdev-preload.so.0";
    if (preload != nullptr && *preload != '\0') {
        libraries += std::string(":") + preload;
    }
    ::setenv("LD_PRELOAD", libraries.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::perror("starting again with umockdev's preload library");
    std::exit(1);
}

}  // namespace sysfs
