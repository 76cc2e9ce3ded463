// Several units of one product on one hub, and a process limited to one of
// them by its USB port (device/UnitLimit.h), as a bench worker runs the
// tool's command: the unit at the port is followed from its application into
// its bootloader; a unit at another port is never opened, restarted or
// written, whatever the tool's "first device found" would have picked; a
// unit that comes back at another port is not followed there, and one under
// another serial number is refused, with the reason.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/UnitLimit.h"
#include "sim/Scenario.h"
#include "sim/TivaneModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

// A hub port's name as the simulated host gives it.
std::string PortName(std::size_t port) { return sim::World::UsbPortName(port); }

const ControllerImage kImage = ControllerImage::Pattern(50 * 6 + 7, 29);

const Transcript kUpdatedAfterReboot = Join({{kUpdatingController, kRebootSent, kViaBootloader},
                                             UpdateEngineLines(kImage.Checksum()),
                                             {kUpdated}});
const Transcript kFullUpdate = {"reboot", "start", "data 50 x 6", "data 7", "checksum", "reset"};

class UnitLimitTest : public CommandTest {
protected:
    void TearDown() override {
        LiftUnitLimit();
        CommandTest::TearDown();
    }

    TempFile file{kImage.file};
    TempFile tivaneFile{kImage.file, "_tivane.bin"};
};

// Unit A runs its application at port 1; unit B waits in its bootloader at
// port 2, where the tool's first-found rule would find it first.
class TwoControllers : public UnitLimitTest {
protected:
    void SetUp() override {
        UnitLimitTest::SetUp();
        a = &world.Add<ControllerModel>();
        b = &world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    }

    ControllerModel* a = nullptr;
    ControllerModel* b = nullptr;

    void LimitToA(std::string serialNumber = {}) {
        LimitDevicesToUnit({PortName(1), std::move(serialNumber)});
    }
};

TEST_F(TwoControllers, WithoutALimitTheToolUpdatesWhicheverBootloaderItFindsFirst) {
    // The hazard a bench worker must not share: A is rebooted, B is written.
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Steps(*a), Transcript{"reboot"});
    EXPECT_EQ(b->firmware, kImage.image);
    EXPECT_EQ(UnitRefusal(), std::nullopt);
}

TEST_F(TwoControllers, LimitedToPortOneOnlyTheUnitThereIsUpdated) {
    // Both carry the same serial number: B, seen while A restarts, is not
    // taken for A, and A then comes back where it was.
    LimitToA("QC7F0012");

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), kUpdatedAfterReboot);
    EXPECT_EQ(Steps(*a), kFullUpdate);
    EXPECT_EQ(a->firmware, kImage.image);
    EXPECT_TRUE(b->wire.empty());
    EXPECT_EQ(b->mode, ControllerModel::Mode::Bootloader);
    EXPECT_EQ(UnitRefusal(), std::nullopt);
}

TEST_F(TwoControllers, UnitThatComesBackAtAnotherPortFailsAndNothingIsWritten) {
    a->comesBackAtPort = 3;
    LimitToA();

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(),
              (Transcript{kUpdatingController, kRebootSent, kViaBootloader, kOpenError}));
    EXPECT_EQ(Steps(*a), Transcript{"reboot"});
    EXPECT_TRUE(b->wire.empty());
    // The station, not the limit, tells where the unit went.
    EXPECT_EQ(UnitRefusal(), std::nullopt);
}

TEST_F(TwoControllers, NodeTakenByAnotherUnitBetweenListingAndOpenIsClosedUntouched) {
    // A's node goes to B between the listing and the open (hidraw numbers
    // are reused): what opened is at port 2, so it is closed and counts as
    // absent; nothing reaches B.
    a->swapsNodeWithPort = 2;
    LimitToA();

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(b->wire.empty());
    EXPECT_EQ(b->mode, ControllerModel::Mode::Bootloader);
    EXPECT_TRUE(a->wire.empty());
    EXPECT_EQ(world.liveHandles, 0);
}

TEST_F(TwoControllers, BootloaderWithAnotherSerialNumberIsNotWritten) {
    a->descriptor.serialNumber = L"QC7F0012";
    a->bootloaderDescriptor.serialNumber = L"QC7F0099";
    LimitToA("QC7F0012");

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_EQ(Steps(*a), Transcript{"reboot"});
    EXPECT_TRUE(b->wire.empty());
    EXPECT_EQ(UnitRefusal(), "serial number QC7F0099 at port " + PortName(1) +
                                 " differs from the unit's serial number QC7F0012");
}

TEST_F(TwoControllers, UnitAtAnEmptyPortOpensNothing) {
    // Limited to port 4, where nothing is plugged in: neither unit is touched,
    // and no unit came back anywhere, since both sat where they sit now. B
    // refuses the user, and is not looked at for a hint either (on Windows
    // that search opens each device).
    b->accessDenied = true;
    LimitDevicesToUnit({PortName(4), {}});

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(world.OpenAttempts().empty());
    EXPECT_TRUE(a->wire.empty());
    EXPECT_TRUE(b->wire.empty());
    EXPECT_EQ(world.liveHandles, 0);
    EXPECT_EQ(UnitRefusal(), std::nullopt);
}

TEST_F(UnitLimitTest, OnlyTheTivaneAtTheUnitsPortGetsTheRestartByte) {
    // The Tivane listed first sits at port 2; the unit is the one at port 1.
    auto& atPortTwo = world.Add<sim::TivaneModel>();
    atPortTwo.usbPort = 2;
    auto& atPortOne = world.Add<sim::TivaneModel>();
    atPortOne.usbPort = 1;
    LimitDevicesToUnit({PortName(1), {}});

    const RunResult run = RunTool({tivaneFile.Path()});

    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, atPortOne.serial.serialPort);
    EXPECT_EQ(atPortOne.restartBytesTaken, 1);
    EXPECT_EQ(atPortOne.firmware, kImage.image);
    EXPECT_EQ(atPortTwo.restartBytesTaken, 0);
    EXPECT_TRUE(atPortTwo.wire.empty());

    // Without the limit, the first one listed, as ever.
    LiftUnitLimit();
    world.serialWrites.clear();
    EXPECT_EQ(RunTool({tivaneFile.Path()}).status, 0);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_EQ(world.serialWrites[0].port, atPortTwo.serial.serialPort);
}

TEST_F(UnitLimitTest, TivaneWhoseBootloaderComesUpAtAnotherPortIsNotWritten) {
    auto& tivane = world.Add<sim::TivaneModel>();
    tivane.comesBackAtPort = 5;
    LimitDevicesToUnit({PortName(1), {}});

    const RunResult run = RunTool({tivaneFile.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingTivane, kAttemptingUpdate, kOpenError}));
    EXPECT_EQ(tivane.restartBytesTaken, 1);
    EXPECT_TRUE(tivane.wire.empty());
}

TEST_F(UnitLimitTest, ScenarioPlacesUnitsAndNamesTheirSerialNumbers) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("controller:serial=QA1:at=3:comes-back-at=5,"
                                  "controller-bootloader:bootloader-serial=QB2:serial=QB1,"
                                  "tivane:serial=TV7",
                                  error))
        << error;
    ASSERT_EQ(world.devices.size(), 3u);
    auto& first = static_cast<ControllerModel&>(*world.devices[0]);
    auto& second = static_cast<ControllerModel&>(*world.devices[1]);
    auto& tivane = static_cast<sim::TivaneModel&>(*world.devices[2]);
    EXPECT_EQ(first.usbPort, 3u);
    EXPECT_EQ(first.comesBackAtPort, 5u);
    EXPECT_EQ(first.descriptor.serialNumber, L"QA1");
    EXPECT_EQ(first.bootloaderDescriptor.serialNumber, L"QA1");
    // Its own bootloader serial number stands, whatever the order.
    EXPECT_EQ(second.usbPort, 2u);
    EXPECT_EQ(second.descriptor.serialNumber, L"QB1");
    EXPECT_EQ(second.bootloaderDescriptor.serialNumber, L"QB2");
    // The Tivane's serial port and its HID bootloader: one unit, one port.
    EXPECT_EQ(tivane.serial.serialNumber, "TV7");
    EXPECT_EQ(tivane.bootloaderDescriptor.serialNumber, L"TV7");
    EXPECT_EQ(tivane.serial.UsbPort(), 3u);
    EXPECT_FALSE(sim::LoadScenario("controller:at=0", error));
}

}  // namespace
