// The survey's platform work on Linux, the USB listing with its terminals
// and the HID listing with its ports (what SurveyFamilyDevices asks of the
// platform), over sysfs trees that umockdev builds and serves to libudev: a
// bench of N USB devices (the root hub, hubs of 7 ports, and units behind
// them: three controllers to one Tivane serial port) and 64 virtual
// terminals besides. Its time must grow in proportion to N, not faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <libudev.h>
#include <sched.h>
#include <sys/mount.h>
#include <umockdev.h>

#include "platform/Platform.h"
#include "platform/usb/HidListing.h"
#include "tests/posix/udev/SysfsRecords.h"

namespace {

constexpr int kPortsPerHub = 7;
constexpr int kVirtualTerminals = 64;
constexpr std::uint16_t kVendor = 0x28DE;

UMockdevTestbed* testbed = nullptr;
int benchDevices = 0;

std::string Hex4(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// The place of unit `unit` (from 0): behind hub unit / 7 + 1, at port unit % 7 + 1.
std::string UnitPlace(int unit) {
    const std::string hub = std::to_string(unit / kPortsPerHub + 1);
    return hub + "/1-" + hub + "." + std::to_string(unit % kPortsPerHub + 1);
}

// How many units make `devices` USB devices with their hubs and the root hub.
int UnitsFor(int devices) {
    int units = devices - 1;
    while (units > 0 && 1 + (units + kPortsPerHub - 1) / kPortsPerHub + units != devices) {
        --units;
    }
    return units;
}

std::string Tree(int devices) {
    const int units = UnitsFor(devices);
    std::string tree = sysfs::HostController();
    for (int hub = 1; hub <= (units + kPortsPerHub - 1) / kPortsPerHub; ++hub) {
        tree += sysfs::UsbDevice(std::to_string(hub), {"A: idVendor=05e3", "A: idProduct=0608",
                                                       "A: bcdDevice=6060", "A: product=USB2.0 Hub"});
    }
    for (int unit = 0; unit < units; ++unit) {
        const std::string place = UnitPlace(unit);
        const std::string serial = "QC" + Hex4(unit);
        if (unit % 4 == 3) {
            const std::string interface = sysfs::At(place) + "/" + sysfs::Sysname(place) + ":1.0";
            const std::string name = "ttyACM" + std::to_string(unit / 4);
            tree += sysfs::UsbDevice(place, {"A: idVendor=2548", "A: idProduct=1001",
                                             "A: bcdDevice=0100", "A: product=Tivane",
                                             "A: serial=TV" + Hex4(unit)}) +
                    sysfs::UsbInterface(interface, "02", 0) +
                    sysfs::Terminal(interface + "/tty/" + name, name, unit / 4);
            continue;
        }
        tree += sysfs::UsbDevice(place, {"A: idVendor=28de", "A: idProduct=1102",
                                         "A: bcdDevice=0104", "A: product=Quorl Wired Controller",
                                         "A: serial=" + serial}) +
                sysfs::HidInterface(place, 0, "0003:28DE:1102." + Hex4(unit + 1),
                                    {"0003:000028DE:00001102", "Quorl Quorl Wired Controller"},
                                    serial, unit);
    }
    for (int terminal = 0; terminal < kVirtualTerminals; ++terminal) {
        const std::string name = "tty" + std::to_string(terminal);
        tree += sysfs::Record("/devices/virtual/tty/" + name,
                              {"N: " + name, "E: SUBSYSTEM=tty", "E: DEVNAME=/dev/" + name,
                               "A: dev=4:" + std::to_string(terminal)});
    }
    return tree;
}

// Whether /sys is umockdev's tree itself, mounted over the system's in a
// mount namespace of the benchmark's own, rather than reached through
// umockdev's preload library, which costs several system calls of its own
// for each one it redirects: that would be measured instead of the listing.
bool sysMounted = false;

// The testbed holds the bench of this many USB devices, and /sys shows it.
bool BenchOf(int devices) {
    if (benchDevices == devices) {
        return true;
    }
    if (sysMounted && benchDevices != 0 && ::umount("/sys") != 0) {
        std::perror("umount /sys");
        return false;
    }
    // A new testbed each time: umockdev keeps the nodes of a cleared one.
    if (testbed != nullptr) {
        g_object_unref(testbed);
    }
    testbed = umockdev_testbed_new();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, Tree(devices).c_str(), &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    if (sysMounted) {
        gchar* root = umockdev_testbed_get_sys_dir(testbed);
        const bool mounted = ::mount(root, "/sys", nullptr, MS_BIND, nullptr) == 0;
        g_free(root);
        if (!mounted) {
            std::perror("mount the testbed on /sys");
            return false;
        }
    }
    benchDevices = devices;
    return true;
}

// One survey: every USB device with its terminal, every HID node of the
// vendor with its port.
void BM_Survey(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    if (!BenchOf(devices)) {
        state.SkipWithError("no umockdev testbed");
        return;
    }
    std::size_t listed = 0;
    for (auto _ : state) {
        const auto usb = platform::ListUsbDevices();
        const auto hid = platform::ListHidDevices(kVendor, 0);
        listed = usb.size() + hid.size();
        benchmark::DoNotOptimize(listed);
    }
    // Every USB device, and every controller (three units of four).
    const int units = UnitsFor(devices);
    if (listed != static_cast<std::size_t>(devices + units - units / 4)) {
        state.SkipWithError("the survey missed devices");
    }
    state.SetComplexityN(devices);
    state.counters["per_device"] =
        benchmark::Counter(static_cast<double>(devices),
                           benchmark::Counter::kIsIterationInvariantRate |
                               benchmark::Counter::kInvert);
}

// What libudev itself costs, which no listing through it can do without:
// the bare enumerations of the USB devices, the terminals and the hidraw
// nodes, each device found and nothing of it read.
void BM_EnumerationsAlone(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    if (!BenchOf(devices)) {
        state.SkipWithError("no umockdev testbed");
        return;
    }
    for (auto _ : state) {
        udev* context = udev_new();
        for (const char* subsystem : {"usb", "tty", "hidraw"}) {
            udev_enumerate* enumeration = udev_enumerate_new(context);
            udev_enumerate_add_match_subsystem(enumeration, subsystem);
            if (std::strcmp(subsystem, "usb") == 0) {
                udev_enumerate_add_match_property(enumeration, "DEVTYPE", "usb_device");
            }
            benchmark::DoNotOptimize(udev_enumerate_scan_devices(enumeration));
            udev_enumerate_unref(enumeration);
        }
        udev_unref(context);
    }
    state.SetComplexityN(devices);
}

// A worker's look at its unit's port: the last unit's.
void BM_SurveyAtOnePort(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    if (!BenchOf(devices)) {
        state.SkipWithError("no umockdev testbed");
        return;
    }
    const std::string port = sysfs::Port(sysfs::Devpath(UnitPlace(UnitsFor(devices) - 2)));
    std::size_t listed = 0;
    for (auto _ : state) {
        listed = platform::ListUsbDevices(port).size() +
                 platform::ListHidDevices(kVendor, 0, port).size();
        benchmark::DoNotOptimize(listed);
    }
    if (listed != 2) {
        state.SkipWithError("the unit was not found at its port");
    }
    state.SetComplexityN(devices);
}

BENCHMARK(BM_Survey)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_EnumerationsAlone)
    ->Arg(8)
    ->Arg(32)
    ->Arg(128)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_SurveyAtOnePort)
    ->Arg(8)
    ->Arg(32)
    ->Arg(128)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace

int main(int argc, char** argv) {
    // A mount namespace needs root (CAP_SYS_ADMIN); without it, through the
    // preload library, the figures are umockdev's more than the listing's.
    sysMounted = ::unshare(CLONE_NEWNS) == 0 &&
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    // libudev takes a device only from a sysfs mount unless told otherwise.
    ::setenv("SYSTEMD_DEVICE_VERIFY_SYSFS", "0", 1);
    if (!sysMounted) {
        std::fprintf(stderr, "no mount namespace (not root?): /sys through umockdev's preload "
                             "library, several times slower\n");
        sysfs::RunUnderUmockdev(argv);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (testbed != nullptr) {
        g_object_unref(testbed);
    }
    return 0;
}
