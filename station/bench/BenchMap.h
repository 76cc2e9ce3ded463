// The bench map: a hand-edited TOML file that names the bench and says which
// USB port each slot of the fixture is wired to, in the order and grid in
// which the fixture holds the units.
//
//   name = "Line 2, bench 1"
//   columns = 4
//   [[slot]]
//   label = "A1"
//   port = "usb-0000:00:14.0-1.1"
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct BenchSlot {
    std::string label;  // what is printed on the fixture: "A1"
    std::string port;   // the USB port the slot is wired to (platform/usb/UsbPort.h)
};

struct BenchMap {
    std::string name;
    int columns = 0;  // slots a row, as the fixture shows them
    std::vector<BenchSlot> slots;

    // The slot wired to that port, or at that label; none when the map has none.
    const BenchSlot* SlotAtPort(std::string_view port) const;
    const BenchSlot* SlotLabelled(std::string_view label) const;
};

// The widest grid a map may ask for; a map without columns has one row of
// all its slots, as many as this allows.
inline constexpr int kMaxBenchColumns = 16;

// Whether the text names a USB port as this system's listing names it:
// Linux, usbhid's "usb-" + host controller bus name + "-" + hub path
// ("usb-0000:00:14.0-1.2.3": port numbers 1 to 255, at most 7 deep);
// Windows, the USB device's location path
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)").
bool IsUsbPortName(std::string_view text);

// Whether the text can be a slot's label: 1 to 16 printable characters,
// no space at either end.
bool IsSlotLabel(std::string_view text);

// The map in the file, or why it cannot be used: "FILE:LINE: REASON", the
// line of the value at fault (of the file's first line for what is missing
// from the whole file).
std::variant<BenchMap, std::string> LoadBenchMap(const std::string& path);

// Writes the map in the layout above through a temporary file in the same
// directory, renamed over the target, so that the target is always either
// the old map or the new one, whole. Nothing on success, or why it failed.
std::optional<std::string> SaveBenchMap(const BenchMap& map, const std::string& path);
