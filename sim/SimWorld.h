// The device simulator's world: the USB devices that are plugged in, the
// virtual clock behind the platform sleep, and what every test can read
// afterwards (wire traffic per device, open attempts, pauses).
//
// hidapi's C functions (SimHidapi.cpp) and the platform functions
// (SimPlatform.cpp) are served from here, with the conventions of the system
// the simulator was built for (HostConventions.h): hidapi 0.13's hidraw back
// end on Linux, hidapi 0.15's Windows back end on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class Transfer { SetFeature, GetFeature, Write, Read };

struct WireRecord {
    std::uint64_t timeMs;
    Transfer transfer;
    Bytes bytes;  // as the device saw or sent them, report-ID byte not included
    bool ok;
};

struct OpenAttempt {
    std::uint64_t timeMs;
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool opened;
};

class SimDevice;

// A USB port the simulated units sit on, as one number: the chain of hub
// ports from the host controller down, one byte a hub (a hub has at most 255
// ports), the controller's port in the highest byte used. Port 3 of the
// controller is 3; "1.2.3", port 3 of the hub at port 2 of the hub at port 1,
// is 0x010203. 0: a port the system cannot tell.
using HubPort = std::size_t;

// "3" or "1.2.3" (Linux's devpath): ports 1 to 255 joined by dots, at most
// as many as USB's tiers of hubs allow; nothing for any other text.
std::optional<HubPort> ParseHubPort(const std::string& text);

// The hub ports from the host controller down: {1, 2, 3} for "1.2.3".
std::vector<std::size_t> HubPortChain(HubPort port);

// The port as ParseHubPort reads it: "3", "1.2.3".
std::string HubPortText(HubPort port);

// Why the text is no hub port, in one line that quotes it.
std::string NotAHubPort(const std::string& text);

// A USB device that only the platform's device listing shows, not hidapi:
// a USB serial port such as the Tivane's application.
struct SimUsbEntry {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t revision = 0x0100;
    std::string product;
    std::string serialPort;  // device node; empty when the device has none
    bool listed = true;
    // The device's reaction to a byte written to its serial port.
    std::function<void(std::uint8_t)> onSerialByte;
    std::string serialNumber = {};
    // The device model this serial function belongs to, whose faults
    // (access-denied) and USB port it shares; null for a device of its own.
    const SimDevice* owner = nullptr;
    // The hub port of a device of its own (0: the system cannot tell).
    HubPort usbPort = 0;
    // The hub port it sits on now: its owner's, or its own.
    HubPort UsbPort() const;
};

struct SerialWrite {
    std::uint64_t timeMs;
    std::string port;
    std::uint8_t byte;
    bool delivered;  // a listed device owned the port, and its node let the user in
};

// What hidapi's enumeration shows of a device (its hid_device_info), and what
// its report descriptor declares. Wide strings, as hidapi hands them out.
struct HidUsage {
    std::uint16_t page;
    std::uint16_t usage;
};
struct HidDescriptor {
    std::wstring serialNumber;             // empty: the device gives none
    std::uint16_t releaseNumber = 0x0100;  // bcdDevice
    std::wstring manufacturer = L"Quorl";
    std::wstring product;                  // empty: the device gives none
    int interfaceNumber = 0;
    // One per top-level collection of the report descriptor: hidraw lists
    // the node once for each, with the same path; Windows gives each its own.
    std::vector<HidUsage> usages = {{0xFF00, 0x0001}};  // vendor-defined
    // Data bytes of its input report, which Windows pads every report to.
    std::size_t inputReportLength = 64;
};

// One USB HID device model. Subclasses give the protocol; the base keeps
// presence, identity, the wire log and the faults that any device can show.
class SimDevice {
public:
    SimDevice(std::uint16_t vendorId, std::uint16_t productId, std::string name);
    virtual ~SimDevice() = default;

    // Protocol of the model. Payloads are the report's data bytes.
    // false: the device refuses the transfer (a stalled control transfer).
    virtual bool OnSetFeature(const Bytes& data);
    // nullopt: refused; otherwise the reply's data bytes (any length).
    virtual std::optional<Bytes> OnGetFeature();
    virtual bool OnWrite(const Bytes& data);
    // The next interrupt-in report, if one is waiting.
    virtual std::optional<Bytes> TakeInputReport();
    // Called whenever virtual time moves, so that the model can act.
    virtual void OnTime(std::uint64_t /*nowMs*/) {}
    // The descriptor it enumerates with now; a model whose firmware states
    // differ (application, bootloader) answers per state.
    virtual const HidDescriptor& Descriptor() const { return descriptor; }
    virtual std::size_t InputReportLength() const { return Descriptor().inputReportLength; }

    // Presence. Unplugging invalidates every open handle for good.
    void Unplug();
    void Plug();
    // Gone now, back at the given virtual time with the given product ID.
    void ReenumerateAt(std::uint64_t timeMs, std::uint16_t newProductId);

    bool Present() const { return present; }
    std::uint64_t Generation() const { return generation; }

    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string name;
    // How QUORL_SIM_DEVICES or a shift named it ("controller:serial=QC7F0013"),
    // so that a worker process can plug in the same unit; empty for a device
    // that a test added itself.
    std::string entry;
    // The number in its HID path (/dev/hidrawN): the lowest one free when
    // it was plugged in, as the kernel gives hidraw minors, so in order of
    // plugging from 0 until a unit is taken out.
    std::size_t busPlace = 0;
    // The hub port it is plugged into (HostConventions::usbPortName names it):
    // by default port busPlace + 1. It keeps its port when it enumerates
    // again (reboot, reset), unless a restart moves it (comesBackAtPort).
    HubPort usbPort = 0;
    // After its next restart it enumerates at this port instead: a unit that
    // is not the one it was, as far as anything that follows ports can tell.
    std::optional<HubPort> comesBackAtPort;
    // The first time its path is opened (hid_open_path), it and the device
    // at this port exchange their nodes first, as when the system gave the
    // node to another unit between a listing and the open: that open, and
    // every one after it, reaches the other device by this path.
    std::optional<HubPort> swapsNodeWithPort;
    // Called as the device restarts: moves it to comesBackAtPort, once.
    void TakeRestartPort();
    // hidapi's path of a top-level collection: its hidraw node, "/dev/hidrawN"
    // with N its place on the bus, or its interface path on Windows.
    std::string Path(std::size_t collection = 0) const;
    HidDescriptor descriptor;
    std::vector<WireRecord> wire;  // empty while the world keeps memory bounded
    std::uint64_t transfers = 0;   // every transfer, whether the wire log keeps it or not

    // Counts a transfer and, unless memory is kept bounded, logs it.
    void Record(Transfer transfer, const Bytes& bytes, bool ok);

    // Faults any device can show.
    int refuseSetReports = 0;          // the next N set-feature transfers are refused
    int refuseGetReports = 0;          // the next N get-feature transfers are refused
    std::int64_t unplugAfterReports = -1;  // unplugged once this many set reports were taken
    std::uint64_t appearAtMs = 0;      // enumerates only from this virtual time on
    bool accessDenied = false;         // present, but its node refuses the user
    // Faults of the process that drives the device, for a station's workers:
    // the process dies (a crash) when this many set reports were taken, or
    // the transfer after them does not return (a device that stopped
    // answering) until something ends the process; should nothing do so
    // within 120 s of real time, the process dies, so that no test hangs.
    std::int64_t dieAfterReports = -1;
    std::int64_t hangAfterReports = -1;
    bool listedWithoutPath = false;    // hidapi's enumeration gives it a null path

    std::uint64_t setReportsTaken = 0;
    // When unplugAfterReports pulled the device out, in virtual time.
    std::optional<std::uint64_t> unpluggedByFaultAtMs;

    // Set-feature reports seen, in order, optionally only those starting with a code.
    std::vector<Bytes> SentReports(std::optional<std::uint8_t> code = std::nullopt) const;

private:
    friend class World;
    bool present = true;
    std::uint64_t generation = 0;
    std::optional<std::uint64_t> reappearAt;
    std::uint16_t reappearProductId = 0;
};

class World {
public:
    static World& Get();

    // Back to an empty bus at virtual time 0.
    void Reset();

    template <class Model, class... Args>
    Model& Add(Args&&... args) {
        auto model = std::make_unique<Model>(std::forward<Args>(args)...);
        Model& ref = *model;
        ref.busPlace = FreeBusPlace();
        ref.usbPort = devices.size() + 1;
        devices.push_back(std::move(model));
        return ref;
    }

    // Takes every device at the port out for good, as a unit pulled from
    // its slot: its handles fail as an unplugged device's do, its serial
    // port leaves the listing, and its node number is free again. The
    // models are kept, unlisted, so that a handle to one stays safe.
    void RemoveAtPort(HubPort port);
    std::vector<std::unique_ptr<SimDevice>> removed;
    // How many units of each default serial number were plugged in: each
    // one after the first is numbered on (QC7F0012, QC7F0013, ...).
    std::map<std::wstring, std::size_t> unitsWithSerial;

    // The first present device with these IDs, in order of plugging.
    SimDevice* FindPresent(std::uint16_t vendorId, std::uint16_t productId);
    // The hub port's name as the host gives it, such as "usb-0000:00:14.0-2";
    // empty for port 0.
    static std::string UsbPortName(HubPort port);
    // The host controller the hubs hang from, in the host's words (empty:
    // the host's usual one, HostConventions::hostController); a test may
    // give it odd text, which every port's name then carries.
    std::string hostController;
    // Exchanges the device's node with that of the device at its
    // swapsNodeWithPort, once; nothing when no device sits there.
    void TakeNodeSwap(SimDevice& device);
    // The enumerated device one of whose collections has this path, and
    // which collection; null when none has.
    SimDevice* FindByPath(const std::string& path, std::size_t& collection);
    // Whether hidapi sees the device now: plugged in and done enumerating.
    bool Enumerates(const SimDevice& device) const {
        return device.Present() && nowMs >= device.appearAtMs;
    }

    std::uint64_t NowMs() const { return nowMs; }
    // Moves virtual time on, letting every model act.
    void Advance(std::uint64_t ms);
    // A sleep of the tool: recorded as a pause, then time moves on.
    void Sleep(std::uint32_t ms);

    // Each pause (empty while memory is kept bounded), their count and their sum.
    const std::vector<std::uint32_t>& Pauses() const { return pauses; }
    std::uint64_t PauseCount() const { return pauseCount; }
    std::uint64_t PausedMs() const { return pausedMs; }
    const std::vector<OpenAttempt>& OpenAttempts() const { return openAttempts; }
    std::size_t OpenAttemptsFor(std::uint16_t productId) const;
    void RecordOpen(std::uint16_t vendorId, std::uint16_t productId, bool opened);

    std::vector<std::unique_ptr<SimDevice>> devices;
    // Tests read every report and every byte a device received. A long
    // rehearsal or a benchmark keeps memory bounded instead: the wire log and
    // the pauses keep only counts, and devices check an image as it arrives
    // instead of storing it, so that memory does not grow with the image.
    bool boundedMemory = false;
    // The tool's pauses also pass in real time (a benchmark of a station,
    // whose workers run side by side on the wall clock).
    bool realTime = false;
    // Handles that hid_open gave out and hid_close has not taken back.
    int liveHandles = 0;
    // Transfers that failed; hidapi's listings of devices, and the
    // platform's looks at one device by its path: what the tool spends to
    // learn whether a device is gone.
    std::uint64_t failedTransfers = 0;
    std::uint64_t enumerations = 0;
    std::uint64_t presenceChecks = 0;
    // hidapi leaves errno as it was after a failure, even where the system's
    // back end sets it, so that the tool is seen deciding without it.
    bool errnoWithheld = false;
    // The console as the tool sees it: a test may pretend standard error is a terminal.
    std::optional<bool> stderrIsTerminal;
    int terminalColumns = 80;

    // The listing-only USB devices, in order of plugging, and every byte the
    // tool wrote to a serial port.
    SimUsbEntry& AddUsbEntry(SimUsbEntry entry);
    // The listed device whose serial port this is, or null.
    SimUsbEntry* FindSerialPort(const std::string& port);
    // The port name of a serial device plugged in now, as the system names
    // ports: numbered after the listing-only devices already plugged in.
    std::string NextSerialPort() const;
    std::vector<std::unique_ptr<SimUsbEntry>> usbEntries;
    std::vector<SerialWrite> serialWrites;

private:
    void Tick();
    std::size_t FreeBusPlace() const;
    std::uint64_t nowMs = 0;
    std::vector<std::uint32_t> pauses;
    std::uint64_t pauseCount = 0;
    std::uint64_t pausedMs = 0;
    std::vector<OpenAttempt> openAttempts;
};

}  // namespace sim
