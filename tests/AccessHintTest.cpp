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

const std::string kHint = AccessHintLine("/dev/hidraw0") + "\n";

class AccessHint : public SimTest {};

TEST_F(AccessHint, RebootNamesTheNodeAfterItsOwnLines) {
    world.Add<ControllerModel>().accessDenied = true;
    const RunResult run = RunTool({"-b"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kSendingToController, kRebootFailed}));
    EXPECT_EQ(run.err, kHint);
}

TEST_F(AccessHint, ControllerUpdateNamesTheApplicationItCouldNotReboot) {
    world.Add<ControllerModel>().accessDenied = true;
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_EQ(run.err, kHint);
}

TEST_F(AccessHint, BootloaderRefusingTheUserIsNamedOnce) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader).accessDenied = true;
    TempFile file(PatternBytes(9000));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kHint);
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
