// platform: the operating system's services that the simulator replaces (sleeping, the USB listing, a serial byte); the folders beside it group the rest by concern.
// Operating-system services that the commands need besides hidapi.
// The product links the Linux or the Windows implementation; the simulator
// implements the same functions over virtual time and simulated devices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Blocks the calling thread for the given number of milliseconds.
void SleepMs(std::uint32_t milliseconds);

// One USB device present on the system, as the device-information service
// shows it.
struct UsbDevice {
    // Most specific first, in the Windows form (UsbListingText.h):
    // "USB\VID_2548&PID_1001&REV_0100", then "USB\VID_2548&PID_1001".
    std::vector<std::string> hardwareIds;
    // What a user sees, such as "Tivane (/dev/ttyACM0)" or, on Windows,
    // "USB Serial Device (COM5)".
    std::string displayName;
    // The serial port that belongs to the device (a device node such as
    // /dev/ttyACM0), or empty when it has none or, as on Windows, when the
    // port is named in the display name only.
    std::string serialPort;
    // From the device descriptor: IDs, release (bcdDevice), and the serial
    // number and product strings, empty when the device gives none.
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t revision = 0;
    std::string serialNumber = {};
    std::string product = {};
    // The physical port it sits on (UsbPort.h), empty when the system cannot
    // tell: the same for the unit in its application and in its bootloader.
    std::string port = {};
};

// The USB devices present now, in the system's listing order; with onlyPort,
// only the device at that port, reading nothing else. A listing that cannot
// be obtained is empty.
std::vector<UsbDevice> ListUsbDevices(const std::string& onlyPort = {});

// Opens the serial port by name, writes one byte and closes it again; false
// when any step failed, with why in failure, one line that names the port
// ("COM5 is in use by another program"). Bounded: a port that takes nothing
// does not hang it. With atUsbPort, the port that was opened must belong to
// the USB device at that port (a node's name is reused as devices come and
// go): otherwise nothing is written, and failure reads
// "/dev/ttyACM0 is no longer at usb-0000:00:14.0-1.2".
bool WriteSerialByte(const std::string& portName, std::uint8_t byte, std::string& failure,
                     const std::string& atUsbPort = {});

}  // namespace platform
