// A device that is present but refuses the user is named on standard error,
// after the command's own lines; nothing changes when no such device is there.
#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

class AccessHint : public SimTest {
protected:
    // A device that refuses the user: on Linux its node belongs to root; on
    // Windows another program holds it, and hidapi's open without access
    // rights must not pass for an open (nothing is sent to it).
    ControllerModel& Refusing(ControllerModel::Mode mode = ControllerModel::Mode::Application) {
        ControllerModel& controller = world.Add<ControllerModel>(mode);
        controller.accessDenied = true;
        return controller;
    }
    static std::string Hint(const sim::SimDevice& device) {
        return DeviceAccessHintLine(device) + "\n";
    }
};

TEST_F(AccessHint, RebootNamesTheNodeAfterItsOwnLines) {
    const ControllerModel& controller = Refusing();
    const RunResult run = RunTool({"-b"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kRebootFailed}));
    EXPECT_EQ(run.err, Hint(controller));
    EXPECT_EQ(controller.transfers, 0u);
}

TEST_F(AccessHint, ControllerUpdateNamesTheApplicationItCouldNotReboot) {
    const ControllerModel& controller = Refusing();
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_EQ(run.err, Hint(controller));
}

TEST_F(AccessHint, BootloaderRefusingTheUserIsNamedOnce) {
    const ControllerModel& controller = Refusing(ControllerModel::Mode::Bootloader);
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, Hint(controller));
    EXPECT_EQ(controller.transfers, 0u);
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
