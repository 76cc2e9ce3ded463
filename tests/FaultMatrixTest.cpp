// Every command that talks to a device, against each fault of the simulator
// that applies to it. Each row reads as a transcript: the command, the
// fault, the exit status, the last line the user sees, and what the device
// holds afterwards. A device must never be left changed by anything but the
// command's own steps: a failed controller update leaves the controller in
// its bootloader with its firmware as it was, a failed dongle upgrade leaves
// the boot guard (or what page 0 held) and no reset, an SWD run touches only
// the pages its file covers, and a command that failed before writing wrote
// nothing.
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/HostConventions.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/DongleMemory.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

enum class Command {
    ControllerUpdate,   // image path
    RadioUpdate,        // "_module" image path
    SwdReflash,         // standard edition: -s file
    SwdReflashWithSd,   // compact edition: -s softdevice address application
    SwdReflashAtAddress,// compact edition: -s address application, the address unaligned
    DongleUpgrade,      // "_dongle" image path
    TivaneUpdate,       // "ivane" image path
    Reboot,             // -b
    Reset,              // -R
    UnitSerial,         // -S serial
    EmcTest,            // -E 0 11 42
};

enum class Stream { Out, Err };

// What the device holds after the run.
enum class Holds {
    NewImage,         // the command's work took effect, the device was restarted
    OldImage,         // nothing changed: no write, no erase, no restart
    Verified,         // the device took and verified the image, but was not restarted
    FilePagesOnly,    // (SWD) only the pages the files cover were touched
    GuardInPageZero,  // (dongle) cut short: the boot guard holds page 0, no reset
    ControllerOnly,   // (EMC) only the controller holds the record
    DongleOnly,       // (EMC) only the dongle holds the record
};

constexpr int kAll = INT_MAX;
constexpr std::uint32_t kSdAppAddress = 98304;
// Inside the page at 98304, whose 1000 bytes below the address hold the
// earlier firmware and must keep it.
constexpr std::uint32_t kUnalignedAddress = 99304;

// The devices of a command's bench, and the files it is given.
struct Bench {
    ControllerModel* controller = nullptr;  // wired controller (radio host, SWD probe)
    ControllerModel* dongleApp = nullptr;   // dongle running its application (EMC)
    sim::DongleBootloaderModel* dongle = nullptr;
    sim::TivaneModel* tivane = nullptr;

    sim::RadioModel& Radio() const { return *controller->radio; }
    sim::SwdProbeModel& Probe() const { return *controller->swdProbe; }
    // The device whose generic faults a row sets.
    sim::SimDevice& Device() const {
        if (dongle != nullptr) {
            return *dongle;
        }
        if (tivane != nullptr) {
            return *tivane;
        }
        return *controller;
    }
};

struct FaultCase {
    Command command;
    std::string fault;  // test name
    std::function<void(Bench&)> apply;
    int status;
    Stream stream;
    std::string lastLine;
    Holds holds;
};

// What the devices held before the run: an earlier firmware everywhere.
const Bytes kOldFirmware = PatternBytes(700, 11);
const Bytes kOldFlash = PatternBytes(5000, 77);
const Bytes kOldDongleMemory = PatternBytes(256 * 512, 91);
const std::string kSerial = "UNIT0042";

// The images: ten 50-byte data reports for the controller family, eleven
// 48-byte pieces for the radio, three SWD pages, three dongle pages.
const ControllerImage kControllerImage = ControllerImage::Pattern(500, 5);
const Bytes kRadioImage = PatternBytes(500, 6);
const Bytes kSwdImage = PatternBytes(3000, 7);
const Bytes kSoftDevice = PatternBytes(2000, 8);
const Bytes kSdApplication = PatternBytes(1500, 9);
const Bytes kDongleImage = PatternBytes(1300, 10);

// The radio flash that SWD programming may touch: whole pages under the files.
struct Span {
    std::size_t from;
    std::size_t to;
};
std::vector<Span> FilePages(Command command) {
    constexpr std::size_t kPage = 1024;
    const auto pages = [](std::size_t base, std::size_t size) {
        return Span{base / kPage * kPage, (base + size + kPage - 1) / kPage * kPage};
    };
    if (command == Command::SwdReflash) {
        return {pages(0, kSwdImage.size())};
    }
    if (command == Command::SwdReflashAtAddress) {
        return {pages(kUnalignedAddress, kSwdImage.size())};
    }
    return {pages(0, kSoftDevice.size()), pages(kSdAppAddress, kSdApplication.size())};
}

bool InFilePages(Command command, std::size_t address) {
    for (const Span& span : FilePages(command)) {
        if (address >= span.from && address < span.to) {
            return true;
        }
    }
    return false;
}

// Each byte of the flash against what the command may have left there.
void CheckRadioFlash(Command command, const Bench& bench, Holds holds) {
    const Bytes& flash = bench.Probe().flash.Contents();
    // The SoftDevice form begins by erasing the whole chip: every row that
    // got past it (all but those that change nothing) leaves erased flash
    // outside the files.
    const bool chipErased = command == Command::SwdReflashWithSd && holds != Holds::OldImage;
    EXPECT_EQ(bench.Probe().flash.chipErases, chipErased ? 1 : 0);
    Bytes expected = Repeating(kOldFlash, 0, flash.size());
    if (chipErased) {
        std::fill(expected.begin(), expected.end(), 0xFF);
    }
    if (holds == Holds::NewImage) {
        if (command == Command::SwdReflash || command == Command::SwdReflashAtAddress) {
            // The file's pages are erased and the file written; the bytes of
            // the first page below an unaligned address are written back.
            const Span span = FilePages(command).front();
            const std::size_t base = command == Command::SwdReflash ? 0 : kUnalignedAddress;
            std::fill(expected.begin() + static_cast<long>(base),
                      expected.begin() + static_cast<long>(span.to), 0xFF);
            std::copy(kSwdImage.begin(), kSwdImage.end(), expected.begin() + static_cast<long>(base));
        } else {
            std::copy(kSoftDevice.begin(), kSoftDevice.end(), expected.begin());
            std::copy(kSdApplication.begin(), kSdApplication.end(),
                      expected.begin() + kSdAppAddress);
        }
    }
    std::size_t differing = 0;
    for (std::size_t at = 0; at < flash.size(); ++at) {
        const bool mayDiffer = holds == Holds::FilePagesOnly && InFilePages(command, at);
        if (!mayDiffer && flash[at] != expected[at] && ++differing <= 3) {
            ADD_FAILURE() << "radio flash byte " << at << " is " << int(flash[at]) << ", expected "
                          << int(expected[at]);
        }
    }
    EXPECT_EQ(differing, 0u);
}

void CheckDongleMemory(const Bench& bench, Holds holds) {
    const sim::DongleBootloaderModel& dongle = *bench.dongle;
    constexpr std::size_t kPage = 512;
    const std::size_t filePagesEnd = (kDongleImage.size() + kPage - 1) / kPage * kPage;
    // Pages beyond the image are never touched.
    EXPECT_EQ(Tail(dongle.memory, filePagesEnd), Tail(kOldDongleMemory, filePagesEnd));
    const Bytes pageZero = dongle.Page(0);
    const Bytes guardPage = DonglePage(HexBytes("02 78 00"));
    switch (holds) {
        case Holds::NewImage:
        case Holds::Verified: {
            Bytes expected(kDongleImage);
            expected.resize(filePagesEnd, 0xFF);
            EXPECT_EQ(Bytes(dongle.memory.begin(), dongle.memory.begin() + filePagesEnd), expected);
            EXPECT_EQ(dongle.resets, holds == Holds::NewImage ? 1 : 0);
            break;
        }
        case Holds::OldImage:
            EXPECT_EQ(dongle.memory, kOldDongleMemory);
            EXPECT_TRUE(dongle.pagesWritten.empty());
            EXPECT_EQ(dongle.resets, 0);
            break;
        default:
            EXPECT_EQ(pageZero, guardPage);
            EXPECT_EQ(dongle.resets, 0);
            break;
    }
}

// A controller-family bootloader (controller or Tivane) after an update.
void CheckBootloaderImage(const ControllerModel& device, Holds holds) {
    EXPECT_EQ(device.firmware, holds == Holds::OldImage ? kOldFirmware : kControllerImage.image);
    // Only a verified update is followed by the restart; a failed one leaves
    // the device in its bootloader.
    EXPECT_EQ(device.resetsFromBootloader, holds == Holds::NewImage ? 1 : 0);
}

void CheckDevices(Command command, const Bench& bench, Holds holds) {
    switch (command) {
        case Command::ControllerUpdate:
            CheckBootloaderImage(*bench.controller, holds);
            break;
        case Command::TivaneUpdate:
            CheckBootloaderImage(*bench.tivane, holds);
            break;
        case Command::RadioUpdate:
            EXPECT_EQ(bench.Radio().firmware, holds == Holds::OldImage ? kOldFirmware : kRadioImage);
            // The radio route never restarts the controller.
            EXPECT_EQ(bench.controller->resetsFromBootloader, 0);
            break;
        case Command::SwdReflash:
        case Command::SwdReflashWithSd:
        case Command::SwdReflashAtAddress:
            CheckRadioFlash(command, bench, holds);
            EXPECT_EQ(bench.Probe().restarts, holds == Holds::NewImage ? 1 : 0);
            break;
        case Command::DongleUpgrade:
            CheckDongleMemory(bench, holds);
            break;
        case Command::Reboot:
            EXPECT_EQ(bench.controller->rebootsIntoBootloader, holds == Holds::NewImage ? 1 : 0);
            break;
        case Command::Reset:
            EXPECT_EQ(bench.controller->resetsFromBootloader, holds == Holds::NewImage ? 1 : 0);
            break;
        case Command::UnitSerial: {
            std::array<std::uint8_t, 16> serial{};
            if (holds != Holds::OldImage) {
                std::copy(kSerial.begin(), kSerial.end(), serial.begin());
            }
            EXPECT_EQ(bench.controller->unitSerial, serial);
            EXPECT_EQ(bench.controller->resetsFromBootloader, holds == Holds::NewImage ? 1 : 0);
            break;
        }
        case Command::EmcTest: {
            const Bytes record = HexBytes("00 02 0B 2A 00");
            const auto holdsRecord = [&](const ControllerModel& device, bool expected) {
                EXPECT_EQ(device.emcRecords.size(), expected ? 1u : 0u) << device.name;
                if (expected && !device.emcRecords.empty()) {
                    EXPECT_EQ(Bytes(device.emcRecords[0].begin(), device.emcRecords[0].begin() + 5),
                              record);
                }
            };
            holdsRecord(*bench.controller,
                        holds == Holds::NewImage || holds == Holds::ControllerOnly);
            holdsRecord(*bench.dongleApp, holds == Holds::NewImage || holds == Holds::DongleOnly);
            break;
        }
    }
}

// Plugs in the command's devices, each holding an earlier firmware.
Bench PlugBench(sim::World& world, Command command) {
    Bench bench;
    switch (command) {
        case Command::ControllerUpdate:
        case Command::RadioUpdate:
        case Command::Reset:
        case Command::UnitSerial:
            // Already in its bootloader: the faults hit the update itself.
            bench.controller = &world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
            break;
        case Command::SwdReflash:
        case Command::SwdReflashWithSd:
        case Command::SwdReflashAtAddress:
        case Command::Reboot:
            bench.controller = &world.Add<ControllerModel>();
            break;
        case Command::EmcTest:
            bench.controller = &world.Add<ControllerModel>();
            bench.dongleApp = &world.Add<sim::DongleAppModel>();
            break;
        case Command::DongleUpgrade:
            bench.dongle = &world.Add<sim::DongleBootloaderModel>();
            bench.dongle->memory = kOldDongleMemory;
            break;
        case Command::TivaneUpdate:
            bench.tivane = &world.Add<sim::TivaneModel>();
            bench.tivane->firmware = kOldFirmware;
            break;
    }
    if (bench.controller != nullptr) {
        bench.controller->firmware = kOldFirmware;
        bench.Radio().firmware = kOldFirmware;
        bench.Probe().flash.Fill(kOldFlash);
    }
    return bench;
}

// The tool given a single image path; the file's name chooses the command.
RunResult RunImagePath(const Bytes& image, const std::string& nameSuffix) {
    TempFile file(image, nameSuffix);
    return RunTool({file.Path()});
}

// Writes the command's files and runs it.
RunResult RunCommand(Command command) {
    switch (command) {
        case Command::ControllerUpdate:
            return RunImagePath(kControllerImage.file, "_controller.bin");
        case Command::RadioUpdate:
            return RunImagePath(kRadioImage, "_module.bin");
        case Command::SwdReflash: {
            TempFile file(kSwdImage, "_radio_app.bin");
            return RunTool({"-s", file.Path()});
        }
        case Command::SwdReflashAtAddress: {
            TempFile file(kSwdImage, "_radio_app.bin");
            return RunTool({"-s", std::to_string(kUnalignedAddress), file.Path()}, Edition::Compact);
        }
        case Command::SwdReflashWithSd: {
            TempFile softDevice(kSoftDevice, "_softdevice.bin");
            TempFile application(kSdApplication, "_radio_app.bin");
            return RunTool({"-s", softDevice.Path(), std::to_string(kSdAppAddress), application.Path()},
                           Edition::Compact);
        }
        case Command::DongleUpgrade:
            return RunImagePath(kDongleImage, "_dongle.bin");
        case Command::TivaneUpdate:
            return RunImagePath(kControllerImage.file, "_tivane.bin");
        case Command::Reboot:
            return RunTool({"-b"});
        case Command::Reset:
            return RunTool({"-R"});
        case Command::UnitSerial:
            return RunTool({"-S", kSerial});
        case Command::EmcTest:
            return RunTool({"-E", "0", "11", "42"});
    }
    return {};
}

// Faults, as rows set them.
std::function<void(Bench&)> Absent() {
    return [](Bench& b) {
        b.Device().Unplug();
        if (b.dongleApp != nullptr) {
            b.dongleApp->Unplug();
        }
    };
}
std::function<void(Bench&)> AppearsAt(std::uint64_t ms) {
    return [ms](Bench& b) { b.Device().appearAtMs = ms; };
}
std::function<void(Bench&)> Refuses(int reports) {
    return [reports](Bench& b) { b.Device().refuseSetReports = reports; };
}
std::function<void(Bench&)> RefusesReads(int reads) {
    return [reads](Bench& b) { b.Device().refuseGetReports = reads; };
}
// Another program holds the devices (Windows), or their nodes belong to root.
std::function<void(Bench&)> HeldByAnotherProgram() {
    return [](Bench& b) {
        b.Device().accessDenied = true;
        if (b.dongleApp != nullptr) {
            b.dongleApp->accessDenied = true;
        }
    };
}
std::function<void(Bench&)> UnpluggedAfter(std::int64_t reports) {
    return [reports](Bench& b) { b.Device().unplugAfterReports = reports; };
}
// The controller family's acknowledgement faults.
std::function<void(Bench&)> Ack(std::function<void(ControllerModel&)> set) {
    return [set](Bench& b) { set(b.tivane != nullptr ? *b.tivane : *b.controller); };
}
std::function<void(Bench&)> Dongle(std::function<void(sim::DongleBootloaderModel&)> set) {
    return [set](Bench& b) { set(*b.dongle); };
}

// Some failure lines follow the marks of the tries on the same line.
const std::string kChipEraseFailed = std::string(10, '.') + "ERROR: full chip failed";

using C = Command;
using H = Holds;
constexpr Stream Out = Stream::Out;
constexpr Stream Err = Stream::Err;

// The controller's and the Tivane's bootloader take the same faults the same way.
std::vector<FaultCase> BootloaderUpdateRows(Command c) {
    return {
        {c, "RefusesThreeReports", Refuses(3), 0, Out, kUpdated, H::NewImage},
        {c, "RefusesNinetyNineReports", Refuses(99), 0, Out, kUpdated, H::NewImage},
        {c, "RefusesAllReports", Refuses(kAll), 1, Out, kUpdateError, H::OldImage},
        {c, "BusyNinetyNinePolls", Ack([](auto& d) { d.busyPolls = 99; }), 0, Out, kUpdated, H::NewImage},
        {c, "BusyHundredPolls", Ack([](auto& d) { d.busyPolls = 100; }), 1, Out, kUpdateError, H::OldImage},
        {c, "StatusFiveAtStart", Ack([](auto& d) { d.startStatus = 5; }), 1, Out, kUpdateError, H::OldImage},
        {c, "StatusThreeAtVerification", Ack([](auto& d) { d.verifyStatus = 3; }), 1, Out, kUpdateError, H::OldImage},
        {c, "OneShortAck", Ack([](auto& d) { d.ack.shortReplies = 1; }), 0, Out, kUpdated, H::NewImage},
        {c, "ShortAcksAlways", Ack([](auto& d) { d.ack.shortReplies = kAll; }), 1, Out, kUpdateError, H::Verified},
        {c, "OneMalformedAck", Ack([](auto& d) { d.ack.malformed = 1; }), 0, Out, kUpdated, H::NewImage},
        {c, "MalformedAcksAlways", Ack([](auto& d) { d.ack.malformed = kAll; }), 1, Out, kUpdateError, H::Verified},
        {c, "LongAcksAlways", Ack([](auto& d) { d.ack.longReplies = kAll; }), 0, Out, kUpdated, H::NewImage},
        {c, "OneAckReadRefused", RefusesReads(1), 0, Out, kUpdated, H::NewImage},
        {c, "AckReadsRefusedAlways", RefusesReads(kAll), 1, Out, kUpdateError, H::Verified},
        // Start, ten data reports, checksum, reset.
        {c, "UnpluggedAfterTheStart", UnpluggedAfter(1), 1, Out, kUpdateError, H::OldImage},
        {c, "UnpluggedAfterSixReports", UnpluggedAfter(6), 1, Out, kUpdateError, H::OldImage},
        {c, "UnpluggedAfterTheChecksum", UnpluggedAfter(12), 1, Out, kUpdateError, H::Verified},
        {c, "UnpluggedAfterTheReset", UnpluggedAfter(13), 0, Out, kUpdated, H::NewImage},
    };
}

std::vector<FaultCase> AllRows() {
    std::vector<FaultCase> rows = {
        // Controller update (image path), the controller already in its bootloader.
        {C::ControllerUpdate, "Healthy", [](Bench&) {}, 0, Out, kUpdated, H::NewImage},
        {C::ControllerUpdate, "Absent", Absent(), 1, Out, kOpenError, H::OldImage},
        {C::ControllerUpdate, "LateWithinTheOpenRetries", AppearsAt(9000), 0, Out, kUpdated, H::NewImage},
        {C::ControllerUpdate, "LaterThanTheOpenRetries", AppearsAt(9600), 1, Out, kOpenError, H::OldImage},
        {C::ControllerUpdate, "ApplicationIgnoresTheReboot",
         [](Bench& b) {
             b.controller->Unplug();
             auto& app = sim::World::Get().Add<ControllerModel>();
             app.ignoreReboot = true;
         },
         1, Out, kOpenError, H::OldImage},

        // Radio update ("_module"), through the controller's bootloader; a
        // failed route goes on to the wireless one, absent here.
        {C::RadioUpdate, "Healthy", [](Bench&) {}, 0, Out, kUpdated, H::NewImage},
        {C::RadioUpdate, "Absent", Absent(), 1, Out, kOpenError, H::OldImage},
        {C::RadioUpdate, "LateWithinTheOpenRetries", AppearsAt(9000), 0, Out, kUpdated, H::NewImage},
        {C::RadioUpdate, "LaterThanTheOpenRetries", AppearsAt(9600), 1, Out, kOpenError, H::OldImage},
        {C::RadioUpdate, "RefusesThreeReports", Refuses(3), 0, Out, kUpdated, H::NewImage},
        {C::RadioUpdate, "RefusesAllReports", Refuses(kAll), 1, Out, kOpenError, H::OldImage},
        {C::RadioUpdate, "BootloaderRefusesRadioCommands",
         [](Bench& b) { b.Radio().takenByBootloader = false; }, 1, Out, kOpenError, H::OldImage},
        {C::RadioUpdate, "BusyNinetyNinePolls", Ack([](auto& d) { d.busyPolls = 99; }), 0, Out, kUpdated, H::NewImage},
        {C::RadioUpdate, "BusyHundredPolls", Ack([](auto& d) { d.busyPolls = 100; }), 1, Out, kOpenError, H::Verified},
        {C::RadioUpdate, "StatusThreeAtVerification",
         [](Bench& b) { b.Radio().verifyStatus = 3; }, 1, Out, kOpenError, H::OldImage},
        // The radio is acknowledged once: one unreadable reply fails the route.
        {C::RadioUpdate, "OneShortAck", Ack([](auto& d) { d.ack.shortReplies = 1; }), 1, Out, kOpenError, H::Verified},
        {C::RadioUpdate, "OneMalformedAck", Ack([](auto& d) { d.ack.malformed = 1; }), 0, Out, kUpdated, H::NewImage},
        {C::RadioUpdate, "MalformedAcksAlways", Ack([](auto& d) { d.ack.malformed = kAll; }), 1, Out, kOpenError, H::Verified},
        {C::RadioUpdate, "LongAcksAlways", Ack([](auto& d) { d.ack.longReplies = kAll; }), 0, Out, kUpdated, H::NewImage},
        // Begin, eleven data reports, checksum.
        {C::RadioUpdate, "UnpluggedAfterFiveReports", UnpluggedAfter(5), 1, Out, kOpenError, H::OldImage},
        {C::RadioUpdate, "UnpluggedAfterTheChecksum", UnpluggedAfter(13), 1, Out, kOpenError, H::Verified},

        // Full radio reflash, standard edition: -s file at address 0, page by page.
        {C::SwdReflash, "Healthy", [](Bench&) {}, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "Absent", Absent(), -1, Out, std::string(50, '.') + "Failed to open USB device!", H::OldImage},
        {C::SwdReflash, "LateWithinTheOpenRetries", AppearsAt(3500), 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "RefusesThreeReports", Refuses(3), 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "RefusesAllReports", Refuses(kAll), -1, Out, kNoSwdStart, H::OldImage},
        {C::SwdReflash, "BusyNinetyNinePolls", Ack([](auto& d) { d.busyPolls = 99; }), 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "BusyHundredPolls", Ack([](auto& d) { d.busyPolls = 100; }), -1, Out, kNoSwdStart, H::OldImage},
        {C::SwdReflash, "StartFailsThreeTimes", [](Bench& b) { b.Probe().startFailures = 3; }, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "StartFailsAlways", [](Bench& b) { b.Probe().startFailures = kAll; }, -1, Out, kNoSwdStart, H::OldImage},
        {C::SwdReflash, "WriteFailsInPage1", [](Bench& b) { b.Probe().failWriteAt = 1500; }, -1, Out, kAppFailed, H::FilePagesOnly},
        {C::SwdReflash, "EraseFailsOnPage2", [](Bench& b) { b.Probe().failEraseAt = 2048; }, -1, Out, kAppFailed, H::FilePagesOnly},
        {C::SwdReflash, "OneShortAck", Ack([](auto& d) { d.ack.shortReplies = 1; }), 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "ShortAcksAlways", Ack([](auto& d) { d.ack.shortReplies = kAll; }), -1, Out, kNoSwdStart, H::OldImage},
        {C::SwdReflash, "OneMalformedAck", Ack([](auto& d) { d.ack.malformed = 1; }), 0, Out, kReflashed, H::NewImage},
        {C::SwdReflash, "LongAcksAlways", Ack([](auto& d) { d.ack.longReplies = kAll; }), 0, Out, kReflashed, H::NewImage},
        // The start is taken but its acknowledgement cannot be read: no start.
        {C::SwdReflash, "UnpluggedAfterTheStart", UnpluggedAfter(1), -1, Out, kNoSwdStart, H::OldImage},
        {C::SwdReflash, "UnpluggedAfterTheFirstErase", UnpluggedAfter(2), -1, Out, kAppFailed, H::FilePagesOnly},
        {C::SwdReflash, "UnpluggedAfterTwentyReports", UnpluggedAfter(20), -1, Out, kAppFailed, H::FilePagesOnly},
        {C::SwdReflash, "RefusesTheEndOfSwd", [](Bench& b) { b.Probe().refuseEnd = true; }, -1, Out, "..Couldn't end SWD", H::FilePagesOnly},

        // Full radio reflash, compact edition: chip erase, SoftDevice, application.
        {C::SwdReflashWithSd, "Healthy", [](Bench&) {}, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflashWithSd, "ChipEraseFailsThreeTimes", [](Bench& b) { b.Probe().chipEraseFailures = 3; }, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflashWithSd, "ChipEraseFailsTenTimes", [](Bench& b) { b.Probe().chipEraseFailures = 10; }, -1, Out, kChipEraseFailed, H::OldImage},
        {C::SwdReflashWithSd, "WriteFailsInTheSoftDevice", [](Bench& b) { b.Probe().failWriteAt = 1000; }, -1, Out, kSdFailed, H::FilePagesOnly},
        {C::SwdReflashWithSd, "WriteFailsInTheApplication", [](Bench& b) { b.Probe().failWriteAt = kSdAppAddress + 100; }, -1, Out, kAppFailed, H::FilePagesOnly},
        {C::SwdReflashWithSd, "UnpluggedAfterTheChipErase", UnpluggedAfter(2), -1, Out, kChipEraseFailed, H::FilePagesOnly},
        {C::SwdReflashWithSd, "UnpluggedAfterTheFirstWrite", UnpluggedAfter(3), -1, Out, kSdFailed, H::FilePagesOnly},

        // Full radio reflash, compact edition, at 99304: the first page's
        // 1000 bytes below the address are read (18 reads), the page erased
        // and they are written back before the file is written.
        {C::SwdReflashAtAddress, "Healthy", [](Bench&) {}, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflashAtAddress, "OneReadReplyLate", [](Bench& b) { b.Probe().withheldReadReplies = 1; }, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflashAtAddress, "OneShortReadReply", [](Bench& b) { b.Probe().shortReadReplies = 1; }, 0, Out, kReflashed, H::NewImage},
        // The previous read's reply, once: not taken for this read's bytes.
        {C::SwdReflashAtAddress, "OneStaleReadReply", [](Bench& b) { b.Probe().staleReadReplies = 1; }, 0, Out, kReflashed, H::NewImage},
        {C::SwdReflashAtAddress, "StaleReadRepliesAlways", [](Bench& b) { b.Probe().staleReadReplies = kAll; }, -1, Out, kAppFailed, H::OldImage},
        {C::SwdReflashAtAddress, "ReadRepliesWithheldAlways", [](Bench& b) { b.Probe().withheldReadReplies = kAll; }, -1, Out, kAppFailed, H::OldImage},
        {C::SwdReflashAtAddress, "EraseFailsOnTheFirstPage", [](Bench& b) { b.Probe().failEraseAt = 98304; }, -1, Out, kAppFailed, H::OldImage},
        {C::SwdReflashAtAddress, "WriteBackFails", [](Bench& b) { b.Probe().failWriteAt = 98304 + 100; }, -1, Out, kAppFailed, H::FilePagesOnly},
        // Start, 18 read requests, the erase.
        {C::SwdReflashAtAddress, "UnpluggedDuringTheReads", UnpluggedAfter(2), -1, Out, kAppFailed, H::OldImage},
        {C::SwdReflashAtAddress, "UnpluggedAfterTheErase", UnpluggedAfter(20), -1, Out, kAppFailed, H::FilePagesOnly},

        // Dongle upgrade ("_dongle"), the dongle in its bootloader.
        {C::DongleUpgrade, "Healthy", [](Bench&) {}, 0, Out, kDongleUpgraded, H::NewImage},
        {C::DongleUpgrade, "Absent", Absent(), -1, Out, kDongleOpenError, H::OldImage},
        {C::DongleUpgrade, "LateToEnumerate", AppearsAt(100), -1, Out, kDongleOpenError, H::OldImage},
        {C::DongleUpgrade, "RefusesThreeReports", Refuses(3), 0, Out, kDongleUpgraded, H::NewImage},
        {C::DongleUpgrade, "RefusesAllReports", Refuses(kAll), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "StatusLateByNinetyNineReports", Dongle([](auto& d) { d.statusLagReports = 99; }), 0, Out, kDongleUpgraded, H::NewImage},
        {C::DongleUpgrade, "StatusLateByHundredFiftyReports", Dongle([](auto& d) { d.statusLagReports = 150; }), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "StatusNeverChanges", Dongle([](auto& d) { d.statusFrozen = true; }), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "NoStatusReports", Dongle([](auto& d) { d.silent = true; }), -1, Out, kDongleOpenError, H::OldImage},
        {C::DongleUpgrade, "LongStatusReports", Dongle([](auto& d) { d.longStatusReports = true; }), -1, Out, kDongleOpenError, H::OldImage},
        {C::DongleUpgrade, "ShortVersionReply", Dongle([](auto& d) { d.versionReply = {0x01}; }), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "LongVersionReply", Dongle([](auto& d) { d.versionReply = {0x01, 0x03, 0x00}; }), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "ReadBackOfPage1DiffersOnce",
         Dongle([](auto& d) { d.badReadbackPage = 1; d.badReadbackTimes = 1; }), 0, Out, kDongleUpgraded, H::NewImage},
        {C::DongleUpgrade, "ReadBackOfPage1DiffersAlways",
         Dongle([](auto& d) { d.badReadbackPage = 1; }), -1, Err, kDongleFailed, H::GuardInPageZero},
        {C::DongleUpgrade, "ReadBackOfPage0DiffersAlways",
         Dongle([](auto& d) { d.badReadbackPage = 0; }), -1, Err, kDongleFailed, H::GuardInPageZero},
        {C::DongleUpgrade, "StoredPage2CorruptedTwice",
         Dongle([](auto& d) { d.badReadbackPage = 2; d.badReadbackTimes = 2; d.corruptStoredPage = true; }),
         0, Out, kDongleUpgraded, H::NewImage},
        // Eight reads of the opening, version, guard check (2), guard write
        // (9), guard check (2); then each page is written (9) and read back
        // (2 per chunk): page 1 (16), page 2 (10), page 0 (16).
        {C::DongleUpgrade, "UnpluggedWhileOpening", UnpluggedAfter(3), -1, Err, kNoVersion, H::OldImage},
        {C::DongleUpgrade, "UnpluggedWritingPage1", UnpluggedAfter(27), -1, Err, kDongleFailed, H::GuardInPageZero},
        {C::DongleUpgrade, "UnpluggedWritingPage0", UnpluggedAfter(22 + 25 + 19 + 5), -1, Err, kDongleFailed, H::GuardInPageZero},
        {C::DongleUpgrade, "UnpluggedAfterTheReset", UnpluggedAfter(22 + 25 + 19 + 25 + 1), 0, Out, kDongleUpgraded, H::NewImage},

        // Tivane update ("ivane"): restart over the serial port, then its bootloader.
        {C::TivaneUpdate, "Healthy", [](Bench&) {}, 0, Out, kUpdated, H::NewImage},
        {C::TivaneUpdate, "Absent",
         [](Bench& b) { b.tivane->serial.listed = false; }, 1, Out, kOpenError, H::OldImage},
        {C::TivaneUpdate, "BootloaderLaterThanASecond",
         [](Bench& b) { b.tivane->restartDelayMs = 1100; }, 1, Out, kOpenError, H::OldImage},

        // -b: the controller running its application.
        {C::Reboot, "Healthy", [](Bench&) {}, 0, Out, kRebootSent, H::NewImage},
        {C::Reboot, "Absent", Absent(), 1, Out, kRebootFailed, H::OldImage},
        {C::Reboot, "LateToEnumerate", AppearsAt(100), 1, Out, kRebootFailed, H::OldImage},
        {C::Reboot, "RefusesThreeReports", Refuses(3), 0, Out, kRebootSent, H::NewImage},
        {C::Reboot, "RefusesAllReports", Refuses(kAll), 0, Out, kRebootSent, H::OldImage},

        // -R: the controller in its bootloader.
        {C::Reset, "Healthy", [](Bench&) {}, 0, Out, kResetSent, H::NewImage},
        {C::Reset, "Absent", Absent(), 1, Out, kSendingToController, H::OldImage},
        {C::Reset, "RefusesThreeReports", Refuses(3), 0, Out, kResetSent, H::NewImage},
        {C::Reset, "RefusesAllReports", Refuses(kAll), 0, Out, kResetSent, H::OldImage},

        // -S serial: the controller in its bootloader.
        {C::UnitSerial, "Healthy", [](Bench&) {}, 0, Out, kSerialSent, H::NewImage},
        {C::UnitSerial, "Absent", Absent(), 1, Out, kOpenError, H::OldImage},
        {C::UnitSerial, "RefusesThreeReports", Refuses(3), 0, Out, kSerialSent, H::NewImage},
        {C::UnitSerial, "RefusesAllReports", Refuses(kAll), 1, Out, kOpenError, H::OldImage},
        {C::UnitSerial, "UnpluggedAfterTheSerial", UnpluggedAfter(1), 0, Out, kSerialSent, H::Verified},

        // -E 0 11 42: the controller and the dongle, both in their applications.
        {C::EmcTest, "Healthy", [](Bench&) {}, 0, Out, kEmcToDongle, H::NewImage},
        {C::EmcTest, "BothAbsent", Absent(), -1, Out, kNoEmcDevice, H::OldImage},
        {C::EmcTest, "ControllerAbsent", [](Bench& b) { b.controller->Unplug(); }, 0, Out, kEmcToDongle, H::DongleOnly},
        {C::EmcTest, "DongleAbsent", [](Bench& b) { b.dongleApp->Unplug(); }, 0, Out, kEmcToController, H::ControllerOnly},
        {C::EmcTest, "BothRefuseThreeReports",
         [](Bench& b) { b.controller->refuseSetReports = 3; b.dongleApp->refuseSetReports = 3; }, 0, Out, kEmcToDongle, H::NewImage},
        {C::EmcTest, "ControllerRefusesAll", Refuses(kAll), 0, Out, kEmcToDongle, H::DongleOnly},
        {C::EmcTest, "BothRefuseAll",
         [](Bench& b) { b.controller->refuseSetReports = kAll; b.dongleApp->refuseSetReports = kAll; }, -1, Out, kNoEmcDevice, H::OldImage},
    };
    for (const Command c : {C::ControllerUpdate, C::TivaneUpdate}) {
        const std::vector<FaultCase> more = BootloaderUpdateRows(c);
        rows.insert(rows.end(), more.begin(), more.end());
    }
    if (sim::Host().opensWithoutAccess) {
        // Windows: hidapi opens a device that another program holds without
        // access rights, and feature reports, all these commands use, pass.
        const std::vector<FaultCase> held = {
            {C::ControllerUpdate, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kUpdated, H::NewImage},
            {C::RadioUpdate, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kUpdated, H::NewImage},
            {C::SwdReflash, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kReflashed, H::NewImage},
            {C::Reboot, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kRebootSent, H::NewImage},
            {C::Reset, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kResetSent, H::NewImage},
            {C::UnitSerial, "HeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kSerialSent, H::NewImage},
            {C::EmcTest, "BothHeldByAnotherProgram", HeldByAnotherProgram(), 0, Out, kEmcToDongle, H::NewImage},
        };
        rows.insert(rows.end(), held.begin(), held.end());
    }
    return rows;
}

const char* CommandName(Command command) {
    switch (command) {
        case C::ControllerUpdate: return "ControllerUpdate";
        case C::RadioUpdate: return "RadioUpdate";
        case C::SwdReflash: return "SwdReflash";
        case C::SwdReflashWithSd: return "SwdReflashWithSoftDevice";
        case C::SwdReflashAtAddress: return "SwdReflashAtAnUnalignedAddress";
        case C::DongleUpgrade: return "DongleUpgrade";
        case C::TivaneUpdate: return "TivaneUpdate";
        case C::Reboot: return "RebootIntoBootloader";
        case C::Reset: return "ResetFromBootloader";
        case C::UnitSerial: return "UnitSerial";
        case C::EmcTest: return "EmcTest";
    }
    return "";
}

void PrintTo(const FaultCase& row, std::ostream* out) {
    *out << CommandName(row.command) << " / " << row.fault;
}

class FaultMatrix : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, EndsWithItsMessageAndStatusAndLeavesTheDeviceSound) {
    const FaultCase& row = GetParam();
    Bench bench = PlugBench(world, row.command);
    row.apply(bench);

    const RunResult run = RunCommand(row.command);

    EXPECT_EQ(run.status, row.status);
    const std::vector<std::string> lines = row.stream == Out ? run.OutLines() : run.ErrLines();
    ASSERT_FALSE(lines.empty()) << "stdout:\n" << run.out << "stderr:\n" << run.err;
    EXPECT_EQ(lines.back(), row.lastLine) << "stdout:\n" << run.out << "stderr:\n" << run.err;
    if (row.stream == Out) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
    }
    CheckDevices(row.command, bench, row.holds);
    EXPECT_EQ(world.liveHandles, 0) << "a device handle outlived its command";
    // Whether a device is gone is asked of that device alone, at most once
    // per failed transfer: never by listing every device.
    EXPECT_EQ(world.enumerations, 0u);
    EXPECT_LE(world.presenceChecks, world.failedTransfers);
}

INSTANTIATE_TEST_SUITE_P(EveryCommandAndFault, FaultMatrix, ::testing::ValuesIn(AllRows()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(CommandName(info.param.command)) + "_" +
                                    info.param.fault;
                         });

}  // namespace
