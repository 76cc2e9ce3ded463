// The real Linux listings (HID nodes, USB devices and their terminals, the
// port of a HID path, the serial write limited to a port) over a sysfs tree
// that umockdev builds and serves to libudev: one bench with a device of
// every kind the listings meet, and the hostile ones that a bench whose units
// restart all the time shows them (a HID device whose uevent cannot be read,
// a USB device without its descriptor, nodes whose parents are gone).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <umockdev.h>

#include "platform/Platform.h"
#include "platform/usb/HidListingLinux.h"
#include "platform/usb/UsbPort.h"
#include "platform/usb/UsbWatch.h"
#include "tests/posix/udev/SysfsRecords.h"

namespace {

using platform::HidBackEnd;
using platform::HidNode;
using sysfs::At;
using sysfs::HidInterface;
using sysfs::Port;
using sysfs::Record;
using sysfs::Terminal;
using sysfs::UsbDevice;
using sysfs::UsbInterface;

constexpr sysfs::HidIdentity kWiredController = {"0003:000028DE:00001102",
                                                 "Quorl Quorl Wired Controller"};
const std::vector<std::string> kWiredDescriptor = {
    "A: idVendor=28de", "A: idProduct=1102", "A: bcdDevice=0104",
    "A: product=Quorl Wired Controller"};

std::vector<std::string> With(std::vector<std::string> lines, const std::string& line) {
    lines.push_back(line);
    return lines;
}

// The bench.
std::string Bench() {
    return sysfs::HostController() +
           // Port 2: a controller with two HID interfaces.
           UsbDevice("2", With(kWiredDescriptor, "A: serial=QC7F0012")) +
           HidInterface("2", 0, "0003:28DE:1102.0001", kWiredController, "QC7F0012", 0) +
           HidInterface("2", 1, "0003:28DE:1102.0002", kWiredController, "QC7F0012", 1) +
           // Port 3: the Tivane's serial application, a terminal.
           UsbDevice("3", {"A: idVendor=2548", "A: idProduct=1001", "A: bcdDevice=0100",
                           "A: product=Tivane", "A: serial=TV1C0093"}) +
           UsbInterface(At("3/1-3:1.0"), "02", 0) +
           Terminal(At("3/1-3:1.0/tty/ttyACM0"), "ttyACM0", 0) +
           // Port 4: a hub, with a dongle bootloader (no serial number) and a
           // USB-serial bridge behind it.
           UsbDevice("4", {"A: idVendor=05e3", "A: idProduct=0608", "A: bcdDevice=6060",
                           "A: product=USB2.0 Hub"}) +
           UsbDevice("4/1-4.1", {"A: idVendor=28de", "A: idProduct=1042", "A: bcdDevice=0103",
                                 "A: product=Quorl Dongle Bootloader"}) +
           HidInterface("4/1-4.1", 0, "0003:28DE:1042.0003",
                        {"0003:000028DE:00001042", "Quorl Dongle Bootloader"}, "", 2) +
           UsbDevice("4/1-4.2", {"A: idVendor=0403", "A: idProduct=6001", "A: bcdDevice=0600",
                                 "A: product=FT232R USB UART"}) +
           UsbInterface(At("4/1-4.2/1-4.2:1.0"), "ff", 0) +
           Terminal(At("4/1-4.2/1-4.2:1.0/ttyUSB0/tty/ttyUSB0"), "ttyUSB0", 1) +
           // Port 5: a device whose descriptor reads as nothing (no idVendor);
           // its HID device still tells its IDs.
           UsbDevice("5", {"A: idProduct=1102", "A: bcdDevice=0105",
                           "A: product=Quorl Wired Controller"}) +
           HidInterface("5", 0, "0003:28DE:1102.0004", kWiredController, "QC7F0099", 3) +
           // Port 6: a controller whose HID device's uevent cannot be read
           // (made unreadable below), as when it leaves while it is read.
           UsbDevice("6", With(kWiredDescriptor, "A: serial=QC7F0066")) +
           HidInterface("6", 0, "0003:28DE:1102.0005", kWiredController, "QC7F0066", 4) +
           // A controller over Bluetooth (uhid): on no USB port.
           sysfs::HidWithNode("/devices/virtual/misc/uhid/0005:28DE:1106.0006",
                              {"HID_ID=0005:000028DE:00001106", "HID_NAME=Quorl Controller",
                               "HID_PHYS=11:22:33:44:55:66", "HID_UNIQ=aa:bb:cc:dd:ee:ff"},
                              5) +
           // Ports 7 and 8: a HID interface with its hidraw node and a
           // serial interface with its terminal, whose devices above are gone
           // (directories without a device in them): the next USB device up,
           // the root hub, is not theirs.
           UsbInterface(At("7/1-7:1.0"), "03", 0) +
           Record(At("7/1-7:1.0/0003:28DE:1102.0007/hidraw/hidraw6"),
                  {"N: hidraw6", "E: SUBSYSTEM=hidraw", "E: DEVNAME=/dev/hidraw6", "A: dev=245:6"}) +
           UsbInterface(At("8/1-8:1.0"), "02", 0) +
           Terminal(At("8/1-8:1.0/tty/ttyACM1"), "ttyACM1", 2) +
           // Port 9: another vendor's receiver.
           UsbDevice("9", {"A: idVendor=046d", "A: idProduct=c52b", "A: bcdDevice=1211",
                           "A: product=USB Receiver"}) +
           HidInterface("9", 0, "0003:046D:C52B.0008",
                        {"0003:0000046D:0000C52B", "Logitech USB Receiver"}, "", 7);
}

class UdevBench : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testbed = umockdev_testbed_new();
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, Bench().c_str(), &error))
            << (error != nullptr ? error->message : "");
        gchar* directory = umockdev_testbed_get_root_dir(testbed);
        root = directory;
        g_free(directory);
        // A uevent that exists but cannot be read: a directory in its place.
        const std::string uevent =
            root + "/sys" + At("6/1-6:1.0/0003:28DE:1102.0005") + "/uevent";
        ASSERT_EQ(::unlink(uevent.c_str()), 0);
        ASSERT_EQ(::mkdir(uevent.c_str(), 0755), 0);
        TakePseudoTerminalNumber(At("3/1-3:1.0/tty/ttyACM0"), "ttyACM0");
        TakePseudoTerminalNumber(At("4/1-4.2/1-4.2:1.0/ttyUSB0/tty/ttyUSB0"), "ttyUSB0");
    }
    static void TearDownTestSuite() { g_object_unref(testbed); }

    // umockdev serves a terminal's node from a pseudo-terminal, whose own
    // device number an open descriptor shows: the terminal gets that number,
    // as the kernel would have given it its own.
    static void TakePseudoTerminalNumber(const std::string& syspath, const std::string& name) {
        const int node = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(node, 0) << name;
        struct stat opened {};
        ASSERT_EQ(::fstat(node, &opened), 0);
        ::close(node);
        const std::string number = std::to_string(major(opened.st_rdev)) + ":" +
                                   std::to_string(minor(opened.st_rdev));
        umockdev_testbed_set_attribute(testbed, ("/sys" + syspath).c_str(), "dev", number.c_str());
        umockdev_testbed_set_property_int(testbed, ("/sys" + syspath).c_str(), "MAJOR",
                                          static_cast<int>(major(opened.st_rdev)));
        umockdev_testbed_set_property_int(testbed, ("/sys" + syspath).c_str(), "MINOR",
                                          static_cast<int>(minor(opened.st_rdev)));
        const std::string link = root + "/sys/dev/char/" + number;
        ASSERT_EQ(::symlink(("../.." + syspath).c_str(), link.c_str()), 0) << link;
    }

    static UMockdevTestbed* testbed;
    static std::string root;
};

UMockdevTestbed* UdevBench::testbed = nullptr;
std::string UdevBench::root;

// What a node is, in one line, so that a list of them compares at a glance.
std::string Line(const HidNode& node) {
    char ids[40];
    std::snprintf(ids, sizeof ids, "%04x:%04x %04x", node.vendorId, node.productId, node.release);
    return node.path + " " + ids + " serial=" + node.serialNumber + " product=" + node.product +
           " port=" + node.port;
}

struct HidRow {
    const char* name;
    HidBackEnd backEnd;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string onlyPort;
    std::vector<std::string> expected;
};

const std::string kController2 = "0104 serial=QC7F0012 product=Quorl Wired Controller port=" + Port("2");
const std::string kDongle = "28de:1042 0103 serial= product=Quorl Dongle Bootloader port=" + Port("4.1");

std::vector<HidRow> HidRows() {
    return {
        // udev's order; each hidraw node with its HID device's IDs and serial
        // number, the USB device's product and release, and HID_PHYS's port.
        // Left out: the node whose HID uevent cannot be read (port 6), the
        // node without its devices (port 7), the other vendor's.
        {"HidrawAll", HidBackEnd::Hidraw, 0x28DE, 0, "",
         {"/dev/hidraw0 28de:1102 " + kController2, "/dev/hidraw1 28de:1102 " + kController2,
          "/dev/hidraw2 " + kDongle,
          "/dev/hidraw3 28de:1102 0105 serial=QC7F0099 product=Quorl Wired Controller port=" +
              Port("5"),
          "/dev/hidraw5 28de:1106 0000 serial=aa:bb:cc:dd:ee:ff product=Quorl Controller port="}},
        {"HidrawOneProduct", HidBackEnd::Hidraw, 0x28DE, 0x1042, "", {"/dev/hidraw2 " + kDongle}},
        {"HidrawAtPort", HidBackEnd::Hidraw, 0x28DE, 0, Port("2"),
         {"/dev/hidraw0 28de:1102 " + kController2, "/dev/hidraw1 28de:1102 " + kController2}},
        {"HidrawBehindHub", HidBackEnd::Hidraw, 0x28DE, 0, Port("4.1"), {"/dev/hidraw2 " + kDongle}},
        // A hub's port holds the hub only, not the devices behind it.
        {"HidrawAtHub", HidBackEnd::Hidraw, 0x28DE, 0, Port("4"), {}},
        {"HidrawAtEmptyPort", HidBackEnd::Hidraw, 0x28DE, 0, Port("12"), {}},
        {"HidrawAtPatternPort", HidBackEnd::Hidraw, 0x28DE, 0, Port("*"), {}},
        // libusb's order: the devices in reverse, their HID interfaces in
        // order; a device without a descriptor (port 5) is left out, one whose
        // HID device cannot be read is not (libusb never reads it).
        {"LibusbAll", HidBackEnd::Libusb, 0x28DE, 0, "",
         {"1-6:1.0 28de:1102 0104 serial=QC7F0066 product=Quorl Wired Controller port=" + Port("6"),
          "1-4.1:1.0 " + kDongle, "1-2:1.0 28de:1102 " + kController2,
          "1-2:1.1 28de:1102 " + kController2}},
        // Every vendor's; none at the root hub (port 7's interface is not its).
        {"LibusbAnyVendor", HidBackEnd::Libusb, 0, 0, "",
         {"1-9:1.0 046d:c52b 1211 serial= product=USB Receiver port=" + Port("9"),
          "1-6:1.0 28de:1102 0104 serial=QC7F0066 product=Quorl Wired Controller port=" + Port("6"),
          "1-4.1:1.0 " + kDongle, "1-2:1.0 28de:1102 " + kController2,
          "1-2:1.1 28de:1102 " + kController2}},
        {"LibusbBehindHub", HidBackEnd::Libusb, 0x28DE, 0, Port("4.1"), {"1-4.1:1.0 " + kDongle}},
        {"LibusbAtHub", HidBackEnd::Libusb, 0x28DE, 0, Port("4"), {}},
    };
}

TEST_F(UdevBench, HidNodes) {
    for (const HidRow& row : HidRows()) {
        std::vector<std::string> lines;
        for (const HidNode& node :
             platform::ListHidNodes(row.backEnd, row.vendorId, row.productId, row.onlyPort)) {
            lines.push_back(Line(node));
        }
        EXPECT_EQ(lines, row.expected) << row.name;
    }
}

std::string Line(const platform::UsbDevice& device) {
    char ids[24];
    std::snprintf(ids, sizeof ids, "%04x:%04x", device.vendorId, device.productId);
    return std::string(ids) + " " + device.port + " " + device.serialPort;
}

TEST_F(UdevBench, UsbDevicesWithTheirTerminals) {
    // Each terminal with the USB device nearest above it: the hub has none of
    // its bridge's. Left out: the device without a descriptor.
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"",
         {"1d6b:0002 " + Port("0") + " ", "28de:1102 " + Port("2") + " ",
          "2548:1001 " + Port("3") + " /dev/ttyACM0", "05e3:0608 " + Port("4") + " ",
          "28de:1042 " + Port("4.1") + " ", "0403:6001 " + Port("4.2") + " /dev/ttyUSB0",
          "28de:1102 " + Port("6") + " ", "046d:c52b " + Port("9") + " "}},
        {Port("3"), {"2548:1001 " + Port("3") + " /dev/ttyACM0"}},
        {Port("4"), {"05e3:0608 " + Port("4") + " "}},
        {Port("4.2"), {"0403:6001 " + Port("4.2") + " /dev/ttyUSB0"}},
        {Port("5"), {}},
        {Port("7"), {}},
    };
    for (const auto& [onlyPort, expected] : rows) {
        std::vector<std::string> lines;
        for (const platform::UsbDevice& device : platform::ListUsbDevices(onlyPort)) {
            lines.push_back(Line(device));
        }
        EXPECT_EQ(lines, expected) << "at " << onlyPort;
    }
    const std::vector<platform::UsbDevice> tivane = platform::ListUsbDevices(Port("3"));
    ASSERT_EQ(tivane.size(), 1u);
    EXPECT_EQ(tivane[0].hardwareIds,
              (std::vector<std::string>{"USB\\VID_2548&PID_1001&REV_0100", "USB\\VID_2548&PID_1001"}));
    EXPECT_EQ(tivane[0].displayName, "Tivane (/dev/ttyACM0)");
    EXPECT_EQ(tivane[0].serialNumber, "TV1C0093");
    EXPECT_EQ(tivane[0].product, "Tivane");
    EXPECT_EQ(tivane[0].revision, 0x0100);
}

TEST_F(UdevBench, PortOfHidPath) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"/dev/hidraw0", Port("2")},  {"/dev/hidraw2", Port("4.1")},
        {"/dev/hidraw5", ""},         // Bluetooth
        {"/dev/hidraw4", ""},         // its HID device's uevent cannot be read
        {"/dev/hidraw6", ""},         // its devices are gone
        {"/dev/hidraw42", ""},        {"", ""},
        {"1-2:1.1", Port("2")},       {"1-4.1:1.0", Port("4.1")},
        {"1-9:1.0", Port("9")},       {"1-7:1.0", ""},
        {"9-9:1.0", ""},              {"../../1-2:1.0", ""},
    };
    for (const auto& [path, port] : rows) {
        EXPECT_EQ(platform::UsbPortOfHidDevice(path), port) << path;
    }
}

// What the device side of a terminal received, as text; empty when nothing.
std::string Received(UMockdevTestbed* testbed, const char* node) {
    const int device = umockdev_testbed_get_dev_fd(testbed, node);
    std::string bytes;
    pollfd ready{device, POLLIN, 0};
    char buffer[16];
    while (device >= 0 && ::poll(&ready, 1, 0) == 1) {
        const ssize_t count = ::read(device, buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

TEST_F(UdevBench, SerialByteOnlyToTheTerminalAtItsPort) {
    struct Row {
        const char* node;
        std::string atUsbPort;
        std::string failure;  // empty: the byte arrives
    };
    const std::vector<Row> rows = {
        {"/dev/ttyACM0", Port("3"), ""},
        {"/dev/ttyACM0", "", ""},
        {"/dev/ttyACM0", Port("2"), "/dev/ttyACM0 is no longer at " + Port("2")},
        // The hub's port is not its bridge's.
        {"/dev/ttyUSB0", Port("4"), "/dev/ttyUSB0 is no longer at " + Port("4")},
        {"/dev/ttyUSB0", Port("4.2"), ""},
    };
    for (const Row& row : rows) {
        std::string failure;
        const bool written = platform::WriteSerialByte(row.node, 0x5A, failure, row.atUsbPort);
        EXPECT_EQ(written, row.failure.empty()) << row.node << " at " << row.atUsbPort;
        EXPECT_EQ(failure, row.failure);
        EXPECT_EQ(Received(testbed, row.node), row.failure.empty() ? "\x5A" : "")
            << row.node << " at " << row.atUsbPort;
    }
}

// The watch hears a unit come and go as udev announces it, and nothing
// besides: a wait with nothing announced lasts until its deadline, longer
// than the half second after which a watch without udev would say "changed".
TEST_F(UdevBench, WatchHearsArrivalsAndRemovalsOnly) {
    using Clock = platform::UsbWatch::Clock;
    const std::unique_ptr<platform::UsbWatch> watch = platform::UsbWatch::Open();
    const auto quiet = std::chrono::milliseconds(700);
    const std::string controller = "/sys" + At("2");
    const std::string node = "/sys" + At("2/1-2:1.0/0003:28DE:1102.0001/hidraw/hidraw0");
    struct Step {
        const char* action;  // announced before the wait; null: none
        std::string syspath;
        bool changed;
    };
    const std::vector<Step> steps = {
        {nullptr, "", false},          {"remove", node, true},       {"remove", controller, true},
        {"change", controller, false}, {"add", controller, true},    {"bind", controller, false},
        {"add", node, true},           {nullptr, "", false},
    };
    for (const Step& step : steps) {
        if (step.action != nullptr) {
            umockdev_testbed_uevent(testbed, step.syspath.c_str(), step.action);
        }
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(watch->WaitForChange(start + quiet), step.changed)
            << (step.action != nullptr ? step.action : "nothing") << " " << step.syspath;
        if (!step.changed) {
            EXPECT_GE(Clock::now() - start, quiet);
        }
    }
    // A deadline already past only looks.
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(watch->WaitForChange(start - std::chrono::seconds(1)));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
}

}  // namespace

int main(int argc, char** argv) {
    sysfs::RunUnderUmockdev(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
