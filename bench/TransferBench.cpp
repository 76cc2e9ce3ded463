// The tool's own CPU time per report on each transfer path, run through the
// simulator: the devices answer at once and every pause the protocol
// prescribes passes in virtual time, so no device time is measured.
//
// BM_Transfer/<path> runs the tool's path: the tool plus the simulator.
// BM_SimulatorAlone/<path> sends the same wire traffic to the same device
// model without the tool, virtual time moving as it did. The tool's own
// share is the difference.
#include <functional>
#include <string>

#include <benchmark/benchmark.h>

#include "app/Commands.h"
#include "app/SwdReflash.h"
#include "bench/BenchSupport.h"
#include "bench/WireReplay.h"
#include "device/QuorlControllerDevice.h"
#include "device/QuorlControllerRadioDevice.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "device/QuorlDongleDevice.h"
#include "image/ImageFile.h"
#include "sim/ControllerModel.h"
#include "sim/DongleBootloaderModel.h"
#include "testsupport/Console.h"
#include "testsupport/TempFiles.h"

namespace {

struct TransferPath {
    PlugIn plugIn;
    // Transfers the image the way the command does; true on success.
    std::function<bool(const std::string& imagePath)> run;
    TempFile image;
};

// The wired controller's update through its bootloader: a 1 MiB image file,
// sent in 50-byte data reports after its start region.
const TransferPath& ControllerUpdate() {
    static const TransferPath path{
        [](sim::World& world) {
            world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
        },
        [](const std::string& image) {
            QuorlControllerDevice bootloader(kControllerBootloaderProductId);
            return UpdateViaBootloader(bootloader, image, false) == 0;
        },
        TempFile::OfPattern(1 << 20, 1)};
    return path;
}

// The radio update through the controller's application: a 256 KiB radio
// image in 48-byte data reports, each followed by the protocol's pause.
const TransferPath& RadioUpdate() {
    static const TransferPath path{
        [](sim::World& world) { world.Add<sim::ControllerModel>(); },
        [](const std::string& image) {
            QuorlControllerRadioDevice controller(kControllerAppProductId);
            return UpdateViaBootloader(controller, image, false) == 0;
        },
        TempFile::OfPattern(256 << 10, 2, "_module.bin")};
    return path;
}

// A 256 KiB radio application programmed over SWD: SWD started, each page
// erased, then written in acknowledged 56-byte writes, SWD ended.
const TransferPath& SwdProgramming() {
    static const TransferPath path{
        [](sim::World& world) { world.Add<sim::ControllerModel>(); },
        [](const std::string& image) {
            QuorlControllerRadioSWDDevice controller(kControllerAppProductId);
            return controller.Open() && controller.StartFirmwareUpdate() == 0 &&
                   ProgramFileOverSwd(controller, 0, image, false) == 0 &&
                   controller.SendImageChecksum(nullptr) == 0;
        },
        TempFile::OfPattern(256 << 10, 3)};
    return path;
}

// The dongle upgrade through its bootloader: a 128 KiB image (all 256
// pages), each page written in 64-byte reports and read back.
const TransferPath& DongleUpgrade() {
    static const TransferPath path{
        [](sim::World& world) { world.Add<sim::DongleBootloaderModel>(); },
        [](const std::string& image) {
            QuorlDongleDevice dongle(kDongleBootloaderProductId);
            const ImageFile firmware = OpenImageFile(image);
            return firmware && dongle.Open() &&
                   dongle.UpgradeFromFile(firmware.get(), ImageBytesFrom(firmware.get(), 0));
        },
        TempFile::OfPattern(128 << 10, 4, "_dongle.bin")};
    return path;
}

void BM_Transfer(benchmark::State& state, const TransferPath& (*select)()) {
    const TransferPath& path = select();
    SilencedConsole silenced;
    WireCounts counts;
    for (auto _ : state) {
        sim::World& world = FreshBoundedWorld();
        path.plugIn(world);
        if (!path.run(path.image.Path())) {
            state.SkipWithError("the transfer failed");
            break;
        }
        counts.AddFrom(world);
    }
    SetTransferCounters(state, counts);
}

void BM_SimulatorAlone(benchmark::State& state, const TransferPath& (*select)()) {
    const TransferPath& path = select();
    SilencedConsole silenced;
    const std::vector<sim::WireRecord> traffic =
        RecordTraffic(path.plugIn, [&] { return path.run(path.image.Path()); });
    if (traffic.empty()) {
        state.SkipWithError("the transfer to record failed");
        return;
    }
    WireCounts counts;
    for (auto _ : state) {
        sim::World& world = FreshBoundedWorld();
        path.plugIn(world);
        if (!ReplayTraffic(traffic, *world.devices.front())) {
            state.SkipWithError("the device answered the replay differently");
            break;
        }
        counts.AddFrom(world);
    }
    SetTransferCounters(state, counts);
}

// A controller that refuses every report: one command, whose report is
// tried a hundred times. After each failed transfer the tool asks whether the
// device is gone; the counters show what that costs per failed transfer: the
// looks at the one device by its path, and hidapi's listings of every
// device (each of which opens every HID interface of a Windows system and
// asks each device for its strings).
void BM_RefusingDevice(benchmark::State& state) {
    SilencedConsole silenced;
    std::uint64_t failed = 0;
    std::uint64_t presenceChecks = 0;
    std::uint64_t enumerations = 0;
    for (auto _ : state) {
        sim::World& world = FreshBoundedWorld();
        auto& controller = world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
        controller.refuseSetReports = 1 << 30;
        QuorlControllerDevice device(kControllerBootloaderProductId);
        const std::uint8_t reset = 0;
        if (!device.Open() || device.SetFeatureReport(0, &reset, 1)) {
            state.SkipWithError("the device did not refuse");
            break;
        }
        failed += world.failedTransfers;
        presenceChecks += world.presenceChecks;
        enumerations += world.enumerations;
    }
    using benchmark::Counter;
    state.counters["failed_transfers"] = Counter(static_cast<double>(failed), Counter::kAvgIterations);
    state.counters["presence_checks"] =
        Counter(static_cast<double>(presenceChecks), Counter::kAvgIterations);
    state.counters["enumerations"] = Counter(static_cast<double>(enumerations), Counter::kAvgIterations);
    state.counters["cpu_per_failed_transfer"] =
        Counter(static_cast<double>(failed), Counter::kIsRate | Counter::kInvert);
}
BENCHMARK(BM_RefusingDevice)->Unit(benchmark::kMicrosecond);

#define QUORL_TRANSFER_BENCHMARKS(path)                                                    \
    BENCHMARK_CAPTURE(BM_Transfer, path, &path)->Unit(benchmark::kMillisecond);           \
    BENCHMARK_CAPTURE(BM_SimulatorAlone, path, &path)->Unit(benchmark::kMillisecond)

QUORL_TRANSFER_BENCHMARKS(ControllerUpdate);
QUORL_TRANSFER_BENCHMARKS(RadioUpdate);
QUORL_TRANSFER_BENCHMARKS(SwdProgramming);
QUORL_TRANSFER_BENCHMARKS(DongleUpgrade);

}  // namespace
