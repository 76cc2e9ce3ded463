// The bad-file cases' fixture: every command that reads a file, with what it
// must print when that file cannot be opened and how it must leave its device.
// Shared by the portable cases (BadFilesTest.cpp) and those that only a POSIX
// system can make (posix/BadFilesPosixTest.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace badfiles {

using sim::ControllerModel;

constexpr std::uint32_t kApplicationAddress = 98304;

template <class Model>
Model& Plugged(sim::World& world) {
    for (const auto& device : world.devices) {
        if (auto* model = dynamic_cast<Model*>(device.get())) {
            return *model;
        }
    }
    throw std::logic_error("no such device on the bus");
}

// One command that reads a file, with what it must print when that file
// cannot be opened and how it must leave its device.
struct FileReader {
    std::string name;
    std::string marker;  // what the file's name holds to choose the command
    std::function<void(sim::World&)> plug;
    std::function<std::vector<std::string>(const std::string& bad)> args;
    Edition edition;
    int status;
    std::function<Transcript(const std::string& bad)> err;
    Transcript out;
    std::function<void(sim::World&)> nothingWritten;
    // Where a file that opens but cannot be read ends otherwise.
    std::function<Transcript(const std::string& bad)> errWhenReadFails = nullptr;
    // Whether it streams the file into a device, planned by its size; the
    // release tooling reads a file as it comes.
    bool updatesADevice = true;
};

class BadFiles : public SimTest {
protected:
    const Bytes oldFlash = PatternBytes(3000, 12);
    TempFile goodSoftDevice{PatternBytes(1000, 13), "_softdevice.bin"};
    TempFile goodImage{PatternBytes(9000, 14), "_controller.bin"};

    std::vector<FileReader> Readers() {
        const auto unableToOpen = [](const std::string& bad) {
            return Transcript{UnableToOpen(bad)};
        };
        // A running controller, with old firmware in its radio's flash.
        const auto plugController = [this](sim::World& w) {
            auto& controller = w.Add<ControllerModel>();
            controller.swdProbe->flash.Fill(oldFlash);
        };
        // A bad path changes no device: nothing reaches the controller, not
        // even the reboot into its bootloader, and the radio keeps its flash.
        const auto controllerUntouched = [this](sim::World& w) {
            auto& controller = Plugged<ControllerModel>(w);
            EXPECT_TRUE(Steps(controller).empty());
            EXPECT_EQ(controller.mode, ControllerModel::Mode::Application);
            EXPECT_EQ(controller.swdProbe->flash.Read(0, oldFlash.size()), oldFlash);
        };
        const auto noDevice = [](sim::World& w) { EXPECT_TRUE(w.devices.empty()); };
        const auto args = [](const std::string& bad) { return std::vector<std::string>{bad}; };
        const Transcript swdOpening = {kUpdatingRadio, kViaUsb};
        return {
            {"controller update", "_controller.bin", plugController, args, Edition::Standard, 1,
             unableToOpen, {kUpdatingController, kUpdateError}, controllerUntouched},
            {"radio update", "_module.bin", plugController, args, Edition::Standard, 1, unableToOpen,
             {kUpdatingRadio}, controllerUntouched},
            {"Tivane update", "_tivane.bin", [](sim::World& w) { w.Add<sim::TivaneModel>(); }, args,
             Edition::Standard, 1, unableToOpen, {kUpdatingTivane, kUpdateError},
             [](sim::World& w) {
                 // No restart byte: the Tivane keeps running its application.
                 EXPECT_TRUE(w.serialWrites.empty());
                 EXPECT_EQ(Plugged<sim::TivaneModel>(w).restartBytesTaken, 0);
             }},
            {"SWD reflash", ".bin", plugController,
             [](const std::string& bad) { return std::vector<std::string>{"-s", bad}; },
             Edition::Standard, -1, unableToOpen, Join({swdOpening, {kAppFailed}}),
             controllerUntouched},
            {"SWD reflash at an address", ".bin", plugController,
             [](const std::string& bad) {
                 return std::vector<std::string>{"-s", std::to_string(kApplicationAddress), bad};
             },
             Edition::Compact, -1, unableToOpen, Join({swdOpening, {kAppFailed}}),
             controllerUntouched},
            {"SWD reflash of the SoftDevice", ".bin", plugController,
             [this](const std::string& bad) {
                 return std::vector<std::string>{"-s", bad, std::to_string(kApplicationAddress),
                                                 goodImage.Path()};
             },
             Edition::Compact, -1, unableToOpen, Join({swdOpening, {kSdFailed}}),
             controllerUntouched},
            {"SWD reflash of the application", ".bin", plugController,
             [this](const std::string& bad) {
                 return std::vector<std::string>{"-s", goodSoftDevice.Path(),
                                                 std::to_string(kApplicationAddress), bad};
             },
             Edition::Compact, -1, unableToOpen, Join({swdOpening, {kAppFailed}}),
             controllerUntouched},
            {"dongle upgrade", "_dongle.bin", [](sim::World& w) { w.Add<sim::DongleBootloaderModel>(); },
             args, Edition::Standard, -1,
             [](const std::string& bad) { return Transcript{UnableToOpen(bad), kDongleFailed}; },
             {"Dongle bootloader version 1.3"},
             [](sim::World& w) {
                 auto& dongle = Plugged<sim::DongleBootloaderModel>(w);
                 EXPECT_TRUE(dongle.pagesWritten.empty());
                 EXPECT_EQ(dongle.resets, 0);
             }},
            {"manifest firmware", ".bin", [](sim::World&) {},
             [](const std::string& bad) { return std::vector<std::string>{"-v", bad, "1500000000"}; },
             Edition::Standard, 1, unableToOpen, {}, noDevice, nullptr, false},
            {"manifest bootloader", ".bin", [](sim::World&) {},
             [this](const std::string& bad) {
                 return std::vector<std::string>{"-v", goodImage.Path(), "1500000000", bad};
             },
             Edition::Standard, 1,
             [](const std::string&) { return Transcript{"Error: Unable to open bootloader file"}; },
             {}, noDevice,
             [](const std::string&) {
                 return Transcript{"Error: Unable to read bootloader timestamp"};
             },
             false},
            {"checksum digits", ".bin", [](sim::World&) {},
             [](const std::string& bad) { return std::vector<std::string>{"-c", bad}; },
             Edition::Standard, 1, unableToOpen, {}, noDevice, nullptr, false},
            {"checksum header line", "_module.bin", [](sim::World&) {},
             [](const std::string& bad) { return std::vector<std::string>{"-C", bad}; },
             Edition::Standard, 1, unableToOpen, {}, noDevice, nullptr, false},
        };
    }

    // Runs every reader (or those that update a device) on a bad file made
    // by the given function from a name.
    void ExpectEveryReaderRefuses(const std::function<std::string(const std::string& name)>& makeBad,
                                  bool opensButReadFails = false, bool updatesOnly = false) {
        for (const FileReader& reader : Readers()) {
            if (updatesOnly && !reader.updatesADevice) {
                continue;
            }
            SCOPED_TRACE(reader.name);
            world.Reset();
            reader.plug(world);
            const std::string bad = makeBad(TempName(reader.marker));
            const RunResult run = RunTool(reader.args(bad), reader.edition);
            EXPECT_EQ(run.status, reader.status);
            const bool otherwise = opensButReadFails && reader.errWhenReadFails != nullptr;
            EXPECT_EQ(run.ErrLines(), otherwise ? reader.errWhenReadFails(bad) : reader.err(bad));
            EXPECT_EQ(run.OutLines(), reader.out);
            reader.nothingWritten(world);
            EXPECT_EQ(world.liveHandles, 0);
        }
    }

    static std::string InTempDirectory(const std::string& name) {
        return (std::filesystem::temp_directory_path() / name).string();
    }
};

}  // namespace badfiles
