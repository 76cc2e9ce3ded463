// Fuzz target: every command that talks to a device, against simulated
// devices whose link to the host fails as the input says (FaultyDevice.h).
//
// Input: a 7-byte setup, then the fault script (FaultScript.h).
//   0  command (Command below)
//   1  flags: 0x01 "-d", 0x02 standard error is a terminal, 0x04 the
//      controller starts in its bootloader, 0x08 it ignores the reboot
//      request, 0x10 a dongle application is plugged in too, 0x20 / 0x40 the
//      radio commands are refused by the controller's application /
//      bootloader, 0x80 the Tivane already runs its bootloader and the
//      dongle already holds its boot guard
//   2  controller restart time, in 100 ms
//   3  controller enumeration time, in 250 ms
//   4  busy answers before each controller acknowledgement
//   5  Tivane restart time (10 ms), dongle status period, terminal width
//   6  choice: bits 0-2 the address, serial or EMC words, bits 3-6 the
//      image's size, bit 7 the compact edition where the command has both
//
// Besides no crash, no sanitizer report and no hang, the rule is: a command
// that reports success has really put the whole image into the device (the
// controller's or Tivane's bootloader received the file from the end of its
// start region on and installed it, a radio installed the file, the radio flash holds the
// file at its address and, around an unaligned address, the earlier bytes of
// the page that the file does not own, the dongle's pages hold the file; BootloaderHolds
// tells the one thing no one can notice), the console ends with whole lines,
// and every device handle is closed when the command returns.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FaultScript.h"
#include "fuzz/FaultyDevice.h"
#include "fuzz/FuzzSupport.h"
#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/WireSteps.h"

namespace {

using fuzz::Faulty;
using fuzz::Violation;

enum class Command {
    ControllerUpdate,
    RadioUpdate,
    SwdStandard,
    SwdCompactApplication,
    SwdCompactSoftDevice,
    DongleUpgrade,
    TivaneUpdate,
    RebootIntoBootloader,
    ResetFromBootloader,
    SetUnitSerial,
    EmcTest,
    Count
};

// Firmware as it looks: code, zero-filled and erased (0xFF) stretches.
Bytes FirmwareLike(std::size_t size, std::uint32_t seed) {
    const Bytes random = PatternBytes(size, seed);
    Bytes image(size);
    for (std::size_t at = 0; at < size; ++at) {
        const std::size_t stretch = (at / 32 * 7 + seed) % 5;
        image[at] = stretch == 0 ? 0x00 : stretch == 1 ? 0xFF : random[at];
    }
    return image;
}

struct Image {
    std::string path;
    Bytes bytes;
};

Image MakeImage(const std::string& name, Bytes bytes) {
    return {fuzz::ProcessTempDir().Write(name, bytes), std::move(bytes)};
}

Bytes ControllerFile(std::size_t imageSize, std::uint32_t seed) {
    return ControllerImage(FirmwareLike(imageSize, seed)).file;
}

// Each image in a few sizes: the usual one, empty, a single byte, and sizes
// on the edges of the device's pieces and pages.
std::vector<Image> ControllerImages(const std::string& name, std::uint32_t seed) {
    std::vector<Image> images;
    for (const std::size_t size : {260, 0, 1, 48, 50, 100}) {
        images.push_back(
            MakeImage(name + "-" + std::to_string(size) + ".bin", ControllerFile(size, seed)));
    }
    return images;
}

std::vector<Image> PlainImages(const std::string& name, const std::string& suffix,
                               std::initializer_list<std::size_t> sizes, std::uint32_t seed) {
    std::vector<Image> images;
    for (const std::size_t size : sizes) {
        images.push_back(
            MakeImage(name + "-" + std::to_string(size) + suffix, FirmwareLike(size, seed)));
    }
    return images;
}

struct Images {
    std::vector<Image> controller = ControllerImages("controller", 1);
    std::vector<Image> radio = PlainImages("radio", "_module.bin", {150, 0, 1, 48, 96}, 2);
    std::vector<Image> application =
        PlainImages("application", ".bin", {1100, 0, 1, 56, 1024, 1080}, 3);
    Image softDevice = MakeImage("softdevice.bin", FirmwareLike(300, 4));
    std::vector<Image> dongle =
        PlainImages("image", "_dongle.bin", {1100, 0, 1, 512, 513, 1024}, 5);
    std::vector<Image> tivane = ControllerImages("tivane", 6);
    // What the devices held before: an earlier firmware, not erased flash.
    Bytes earlierRadioFlash = FirmwareLike(sim::RadioFlashModel::kDefaultSize, 7);
    Bytes earlierDongle = FirmwareLike(4 * sim::DongleBootloaderModel::kPageSize, 8);
};

const Images& TheImages() {
    static const Images images;
    return images;
}

struct Address {
    const char* text;
    std::uint32_t value;
};

// Application addresses of the compact "-s" forms: aligned, unaligned, at the
// end of the flash, past it, and wrapping past the top of the address space.
constexpr std::array<Address, 8> kApplicationAddresses = {{{"98304", 98304},
                                                           {"0x18000", 98304},
                                                           {"0", 0},
                                                           {"4096", 4096},
                                                           {"99304", 99304},
                                                           {"0x3ff00", 0x3FF00},
                                                           {"262144", 262144},
                                                           {"0xffffff00", 0xFFFFFF00}}};
// Application addresses of the SoftDevice form: past the SoftDevice's end,
// right behind it, and inside it (to be refused).
constexpr std::array<Address, 6> kAddressesWithSoftDevice = {
    {{"98304", 98304}, {"1024", 1024}, {"0x1000", 4096}, {"300", 300}, {"256", 256}, {"0", 0}}};

const std::array<std::string, 4> kSerials = {"ABC", "", "0123456789ABCDEF", "SERIAL-NUMBER-1234"};

const std::array<std::vector<std::string>, 5> kEmcWords = {{
    {"0", "11", "42", "80"},
    {"-p", "-4", "1", "39", "40"},
    {"1", "5"},
    {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"},
    {"-p", "300", "0", "300"},
}};

struct Setup {
    Command command = Command::ControllerUpdate;
    std::uint8_t flags = 0;
    std::uint8_t restart = 0;
    std::uint8_t enumeration = 0;
    std::uint8_t busy = 0;
    std::uint8_t timing = 0;
    std::uint8_t choice = 0;

    bool Flag(std::uint8_t bit) const { return (flags & bit) != 0; }
    // The choice byte: bits 0-2 an address, serial or EMC words, bits 3-6 the
    // image's size, bit 7 the compact edition where the command allows both.
    std::size_t Pick(std::size_t count) const { return (choice & 0x07u) % count; }
    const Image& Sized(const std::vector<Image>& variants) const {
        return variants[((choice >> 3) & 0x0Fu) % variants.size()];
    }
    Edition EditionToUse() const {
        switch (command) {
            case Command::SwdStandard:
                return Edition::Standard;
            case Command::SwdCompactApplication:
            case Command::SwdCompactSoftDevice:
                return Edition::Compact;
            default:
                return (choice & 0x80) != 0 ? Edition::Compact : Edition::Standard;
        }
    }
};

Setup ReadSetup(fuzz::FaultScript& script) {
    Setup setup;
    setup.command = static_cast<Command>(script.Byte() % static_cast<int>(Command::Count));
    setup.flags = script.Byte();
    setup.restart = script.Byte();
    setup.enumeration = script.Byte();
    setup.busy = script.Byte();
    setup.timing = script.Byte();
    setup.choice = script.Byte();
    return setup;
}

// The application address of a compact "-s" command line.
const Address& ApplicationAddress(const Setup& setup) {
    if (setup.command == Command::SwdCompactSoftDevice) {
        return kAddressesWithSoftDevice[setup.Pick(kAddressesWithSoftDevice.size())];
    }
    return kApplicationAddresses[setup.Pick(kApplicationAddresses.size())];
}

struct Bench {
    Faulty<sim::ControllerModel>* controller = nullptr;
    Faulty<sim::DongleAppModel>* dongleApp = nullptr;
    Faulty<sim::DongleBootloaderModel>* dongle = nullptr;
    Faulty<sim::TivaneModel>* tivane = nullptr;
};

// The radio flash holds an earlier firmware in every page, the page of an
// unaligned application address included: the tool must save that page's
// bytes outside the application, erase it, and write them back.
void PrepareRadioFlash(sim::RadioFlashModel& flash) { flash.Fill(TheImages().earlierRadioFlash); }

Bench PlugDevices(const Setup& setup) {
    sim::World& world = sim::World::Get();
    world.stderrIsTerminal = setup.Flag(0x02);
    world.terminalColumns = setup.timing;
    Bench bench;

    bench.controller = &world.Add<Faulty<sim::ControllerModel>>(
        setup.Flag(0x04) ? sim::ControllerModel::Mode::Bootloader
                         : sim::ControllerModel::Mode::Application);
    bench.controller->rebootDelayMs = setup.restart * 100u;
    bench.controller->appearAtMs = setup.enumeration * 250u;
    bench.controller->busyPolls = setup.busy;
    bench.controller->ignoreReboot = setup.Flag(0x08);
    sim::RadioModel& radio = *bench.controller->radio;
    radio.takenByApplication = !setup.Flag(0x20);
    radio.takenByBootloader = !setup.Flag(0x40);
    if (setup.command == Command::SwdStandard || setup.command == Command::SwdCompactApplication ||
        setup.command == Command::SwdCompactSoftDevice) {
        PrepareRadioFlash(bench.controller->swdProbe->flash);
    }

    if (setup.Flag(0x10)) {
        bench.dongleApp = &world.Add<Faulty<sim::DongleAppModel>>();
        bench.dongleApp->busyPolls = setup.busy;
    }

    bench.dongle = &world.Add<Faulty<sim::DongleBootloaderModel>>();
    const Bytes& earlier = TheImages().earlierDongle;
    for (std::size_t at = 0; at < earlier.size(); at += sim::DongleBootloaderModel::kPageSize) {
        bench.dongle->Store(at / sim::DongleBootloaderModel::kPageSize,
                            Bytes(earlier.begin() + static_cast<long>(at), earlier.end()));
    }
    if (setup.Flag(0x80)) {
        bench.dongle->Store(0, {0x02, 0x78, 0x00});
    }
    bench.dongle->statusPeriodMs = 1u + setup.timing % 200u;

    bench.tivane = &world.Add<Faulty<sim::TivaneModel>>(
        setup.Flag(0x80) ? sim::ControllerModel::Mode::Bootloader
                         : sim::ControllerModel::Mode::Application);
    bench.tivane->restartDelayMs = setup.timing * 10u;
    bench.tivane->busyPolls = setup.busy;
    return bench;
}

std::vector<std::string> WordsFor(const Setup& setup) {
    const Images& images = TheImages();
    std::vector<std::string> words;
    if (setup.Flag(0x01)) {
        words.push_back("-d");
    }
    const auto add = [&](std::initializer_list<std::string> more) {
        words.insert(words.end(), more);
    };
    switch (setup.command) {
        case Command::ControllerUpdate:
            add({setup.Sized(images.controller).path});
            break;
        case Command::RadioUpdate:
            add({setup.Sized(images.radio).path});
            break;
        case Command::SwdStandard:
            add({"-s", setup.Sized(images.application).path});
            break;
        case Command::SwdCompactApplication:
            add({"-s", ApplicationAddress(setup).text, setup.Sized(images.application).path});
            break;
        case Command::SwdCompactSoftDevice:
            add({"-s", images.softDevice.path, ApplicationAddress(setup).text,
                 setup.Sized(images.application).path});
            break;
        case Command::DongleUpgrade:
            add({setup.Sized(images.dongle).path});
            break;
        case Command::TivaneUpdate:
            add({setup.Sized(images.tivane).path});
            break;
        case Command::RebootIntoBootloader:
            add({"-b"});
            break;
        case Command::ResetFromBootloader:
            add({"-R"});
            break;
        case Command::SetUnitSerial:
            add({"-S", kSerials[setup.Pick(kSerials.size())]});
            break;
        case Command::EmcTest: {
            add({"-E"});
            const auto& emc = kEmcWords[setup.Pick(kEmcWords.size())];
            words.insert(words.end(), emc.begin(), emc.end());
            break;
        }
        case Command::Count:
            break;
    }
    return words;
}

bool RadioHolds(sim::ControllerModel* host, const Bytes& image) {
    if (host == nullptr) {
        return false;
    }
    const sim::RadioModel& radio = *host->radio;
    return radio.updatesInstalled > 0 && radio.firmware == image;
}

bool FlashHolds(const sim::RadioFlashModel& flash, std::uint32_t address, const Bytes& image) {
    return flash.Read(address, image.size()) == image;
}

// An application at an unaligned address shares its first page with bytes it
// does not own: below the address and, when it ends inside that page, after
// its end. Without a chip erase they keep the earlier firmware's values.
bool KeptBytesHold(const sim::RadioFlashModel& flash, std::uint64_t base, std::size_t size) {
    constexpr std::uint64_t kPage = sim::RadioFlashModel::kPageSize;
    const std::uint64_t page = base / kPage * kPage;
    if (base == page || page + kPage > flash.Size()) {
        return true;
    }
    const std::uint64_t keptFrom = std::min(base + size, page + kPage);
    const Bytes& earlier = TheImages().earlierRadioFlash;
    const auto same = [&](std::uint64_t from, std::uint64_t to) {
        return std::equal(flash.Contents().begin() + static_cast<long>(from),
                          flash.Contents().begin() + static_cast<long>(to),
                          earlier.begin() + static_cast<long>(from));
    };
    return same(page, base) && same(keptFrom, page + kPage);
}

// A bootloader holds the image of a controller file: the bytes after its
// start region. The device's checksum skips the image's header, so for an
// image no longer than that a report delivered twice (taken, but failed on
// the host's side, and sent again) cannot be noticed by device or host; the
// image is then followed by the repeated bytes.
bool BootloaderHolds(const sim::ControllerModel& device, const Bytes& file) {
    const Bytes image = Tail(file, ControllerImage::kStart);
    if (image.size() > ControllerImage::kHeader) {
        return device.firmware == image;
    }
    return device.firmware.size() >= image.size() &&
           std::equal(image.begin(), image.end(), device.firmware.begin());
}

bool DongleHolds(const sim::DongleBootloaderModel& dongle, const Bytes& image) {
    return std::equal(image.begin(), image.end(), dongle.memory.begin());
}

bool SerialHeld(const sim::ControllerModel& controller, const std::string& text) {
    std::array<std::uint8_t, 16> serial{};
    std::copy_n(text.begin(), std::min(text.size(), serial.size()), serial.begin());
    return controller.unitSerial == serial;
}

// The command's exit status is one its command can give, and success means
// the device really holds what it was given.
void CheckOutcome(const Setup& setup, const Bench& bench, int status) {
    const Images& images = TheImages();
    const auto allowed = [&](int failure) {
        if (status != 0 && status != failure) {
            Violation("exit status " + std::to_string(status));
        }
    };
    const auto require = [&](bool holds, const char* what) {
        if (status == 0 && !holds) {
            Violation(std::string("reported success, but ") + what);
        }
    };
    const sim::RadioFlashModel& flash = bench.controller->swdProbe->flash;
    const Bytes& application = setup.Sized(images.application).bytes;
    switch (setup.command) {
        case Command::ControllerUpdate:
            allowed(1);
            require(BootloaderHolds(*bench.controller, setup.Sized(images.controller).bytes),
                    "the controller does not hold the image");
            break;
        case Command::RadioUpdate: {
            allowed(1);
            const Bytes& radio = setup.Sized(images.radio).bytes;
            require(RadioHolds(bench.controller, radio) || RadioHolds(bench.dongleApp, radio),
                    "no radio installed the image");
            break;
        }
        case Command::SwdStandard:
            allowed(-1);
            require(FlashHolds(flash, 0, application),
                    "the radio flash does not hold the application at 0");
            break;
        case Command::SwdCompactApplication:
            allowed(-1);
            require(FlashHolds(flash, ApplicationAddress(setup).value, application),
                    "the radio flash does not hold the application at its address");
            // Bytes read with a flipped data byte are written back so; no
            // one can notice (the read reply carries no check).
            require(bench.controller->swdReadDataFlipped > 0 ||
                        KeptBytesHold(flash, ApplicationAddress(setup).value, application.size()),
                    "the application's first page lost the bytes outside the application");
            break;
        case Command::SwdCompactSoftDevice:
            allowed(-1);
            require(FlashHolds(flash, 0, images.softDevice.bytes),
                    "the radio flash does not hold the SoftDevice");
            require(FlashHolds(flash, ApplicationAddress(setup).value, application),
                    "the radio flash does not hold the application at its address");
            break;
        case Command::DongleUpgrade:
            allowed(-1);
            require(DongleHolds(*bench.dongle, setup.Sized(images.dongle).bytes),
                    "the dongle's pages do not hold the image");
            break;
        case Command::TivaneUpdate:
            allowed(1);
            require(BootloaderHolds(*bench.tivane, setup.Sized(images.tivane).bytes),
                    "the Tivane does not hold the image");
            break;
        case Command::RebootIntoBootloader:
        case Command::ResetFromBootloader:
            allowed(1);
            break;
        case Command::SetUnitSerial:
            allowed(1);
            require(SerialHeld(*bench.controller, kSerials[setup.Pick(kSerials.size())]),
                    "the controller does not hold the serial");
            break;
        case Command::EmcTest:
            allowed(-1);
            require(!bench.controller->emcRecords.empty() ||
                        (bench.dongleApp != nullptr && !bench.dongleApp->emcRecords.empty()),
                    "no device took the EMC record");
            break;
        case Command::Count:
            break;
    }
}

// For reading one input: every transfer each device saw, as its protocol
// names it, then the totals.
void ShowWire() {
    const sim::World& world = sim::World::Get();
    for (const auto& device : world.devices) {
        WireDecoder decoder(*device);
        for (const sim::WireRecord& record : device->wire) {
            std::printf("%8llu ms %s: %s\n", static_cast<unsigned long long>(record.timeMs),
                        device->name.c_str(), decoder.Describe(record).c_str());
        }
    }
    std::printf("[%llu transfers, %llu ms of virtual time]\n",
                static_cast<unsigned long long>(fuzz::limits::Transfers()),
                static_cast<unsigned long long>(world.NowMs()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheImages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::World& world = sim::World::Get();
    world.Reset();
    fuzz::limits::Reset();
    fuzz::FaultScript& script = fuzz::Script();
    script.Load(data, size);

    const Setup setup = ReadSetup(script);
    const Bench bench = PlugDevices(setup);
    const std::vector<std::string> words = WordsFor(setup);
    const RunResult run = fuzz::RunQuietly(words, setup.EditionToUse());
    if (std::getenv("QUORL_FUZZ_ECHO") != nullptr) {
        ShowWire();
    }
    CheckOutcome(setup, bench, run.status);
    fuzz::CheckConsoleAndHandles(run);
    world.Reset();
    return 0;
}
