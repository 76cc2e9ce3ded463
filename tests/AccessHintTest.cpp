// A device that is present but refuses the user is named on standard error,
// after the command's own lines; nothing changes when no such device is there.
// On Windows, hidapi opens such a device without access rights, and its
// feature reports still pass: the controller family's commands work, and the
// hint comes only where an operation fails (the dongle's status reads, a
// refused report).
#include <gtest/gtest.h>

#include "device/UnitLimit.h"
#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/HostConventions.h"
#include "sim/TivaneModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

class AccessHint : public SimTest {
protected:
    // A device that refuses the user: on Linux its node belongs to root; on
    // Windows another program holds it (or the system keeps it).
    ControllerModel& Refusing(ControllerModel::Mode mode = ControllerModel::Mode::Application) {
        ControllerModel& controller = world.Add<ControllerModel>(mode);
        controller.accessDenied = true;
        return controller;
    }
    static std::string Hint(const sim::SimDevice& device) {
        return DeviceAccessHintLine(device) + "\n";
    }
    // Whether a device that refuses reading and writing still opens, with
    // feature reports only (Windows).
    static bool FeatureReportsPass() { return sim::Host().opensWithoutAccess; }
};

TEST_F(AccessHint, RebootNamesTheNodeAfterItsOwnLines) {
    const ControllerModel& controller = Refusing();
    const RunResult run = RunTool({"-b"});
    if (FeatureReportsPass()) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kRebootSent}));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(controller.rebootsIntoBootloader, 1);
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kRebootFailed}));
    EXPECT_EQ(run.err, Hint(controller));
    EXPECT_EQ(controller.transfers, 0u);
}

// A station's worker, limited to the unit at port 2, names that unit's node,
// not the one the tool's search would find first at port 1.
TEST_F(AccessHint, WorkerNamesItsOwnUnitsNode) {
    Refusing();
    const ControllerModel& unit = Refusing();
    LimitDevicesToUnit({sim::World::UsbPortName(2), {}});
    const RunResult run = RunTool({"-b"});
    LiftUnitLimit();
    if (FeatureReportsPass()) {
        EXPECT_EQ(run.status, 0);
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Hint(unit));
}

TEST_F(AccessHint, ControllerUpdateNamesTheApplicationItCouldNotReboot) {
    const ControllerModel& controller = Refusing();
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    if (FeatureReportsPass()) {
        // Rebooted, and its bootloader, held as well, updated.
        EXPECT_EQ(run.status, 0);
        ASSERT_FALSE(run.OutLines().empty()) << run.out;
        EXPECT_EQ(run.OutLines().back(), kUpdated);
        EXPECT_EQ(controller.rebootsIntoBootloader, 1);
        EXPECT_EQ(run.err, "");
        return;
    }
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_EQ(run.err, Hint(controller));
}

TEST_F(AccessHint, BootloaderRefusingTheUserIsNamedOnce) {
    const ControllerModel& controller = Refusing(ControllerModel::Mode::Bootloader);
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    if (FeatureReportsPass()) {
        // The update works on a handle without access rights.
        EXPECT_EQ(run.status, 0);
        ASSERT_FALSE(run.OutLines().empty()) << run.out;
        EXPECT_EQ(run.OutLines().back(), kUpdated);
        EXPECT_EQ(run.err, "");
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Hint(controller));
    EXPECT_EQ(controller.transfers, 0u);
}

// A refusing bootloader that also refuses its reports: on Linux it does not
// open; on Windows it opens without access rights, and the failed reports
// name it all the same.
TEST_F(AccessHint, RefusingBootloaderWhoseReportsFailIsNamed) {
    ControllerModel& controller = Refusing(ControllerModel::Mode::Bootloader);
    controller.refuseSetReports = 1000;
    const RunResult run = RunTool({"-S", "UNIT0042"});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_EQ(run.err, Hint(controller));
}

// The dongle's bootloader tells its status in input reports, which a handle
// without access rights cannot read: on every system it does not open, and
// nothing is sent to it.
TEST_F(AccessHint, DongleBootloaderRefusingTheUserIsNamed) {
    sim::DongleBootloaderModel& dongle = world.Add<sim::DongleBootloaderModel>();
    dongle.accessDenied = true;
    TempFile file(PatternBytes(1300), "_dongle.bin");
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, -1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kDongleOpenError);
    EXPECT_EQ(run.err, Hint(dongle));
    EXPECT_EQ(dongle.transfers, 0u);
}

// A Tivane whose serial port another program holds (Windows) or that
// belongs to root (Linux): the restart byte cannot be written, and why is
// said before the attempt that follows.
TEST_F(AccessHint, TivanePortThatRefusesTheRestartByteSaysWhy) {
    sim::TivaneModel& tivane = world.Add<sim::TivaneModel>();
    tivane.accessDenied = true;
    TempFile file(PatternBytes(9000), "_tivane.bin");
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    const std::string port = tivane.serial.serialPort;
    const std::string why = FeatureReportsPass() ? port + " is in use by another program"
                                                 : port + ": Permission denied";
    ASSERT_FALSE(run.ErrLines().empty()) << run.err;
    EXPECT_EQ(run.ErrLines().front(), why);
    ASSERT_EQ(world.serialWrites.size(), 1u);
    EXPECT_FALSE(world.serialWrites[0].delivered);
}

TEST_F(AccessHint, NothingWhenTheDeviceIsAbsentOrTheCommandSucceeds) {
    TempFile file(PatternBytes(9000));
    EXPECT_EQ(RunTool({file.Path()}).err, "");
    EXPECT_EQ(RunTool({"-R"}).err, "");
    // A refusing device of another kind does not concern this command.
    world.Add<sim::DongleAppModel>().accessDenied = true;
    EXPECT_EQ(RunTool({"-b"}).err, "");
    world.Add<ControllerModel>();
    const RunResult reboot = RunTool({"-b"});
    EXPECT_EQ(reboot.status, 0);
    EXPECT_EQ(reboot.err, "");
}

}  // namespace
