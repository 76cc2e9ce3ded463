// Faults of the link between host and device that fuzzing the devices'
// answers turned up (fuzz/DeviceAnswersFuzzer.cpp), as device transcripts:
// none of them may end in a success for an image the device does not hold.
#include <gtest/gtest.h>

#include <memory>

#include "sim/ControllerModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

// Stalls every report of one command code, as a link that drops it would.
struct RefuseCommand : sim::CommandExtension {
    explicit RefuseCommand(std::uint8_t code) : code(code) {}
    bool OnCommand(ControllerModel&, std::uint8_t taken, const sim::Bytes&,
                   bool& accepted) override {
        accepted = false;
        return taken == code;
    }
    std::uint8_t code;
};

class FlakyLink : public CommandTest {};

// The bootloader never received the checksum, so it verified nothing; the
// acknowledgement it still shows is the start's, with status 0, and must not
// pass for the verification.
TEST_F(FlakyLink, ControllerChecksumThatNeverArrivesIsNoSuccess) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.extensions.push_back(std::make_unique<RefuseCommand>(sim::kImageChecksum));
    TempFile file(ControllerImage::Pattern(260, 9).file);

    const RunResult run = RunTool({"-d", file.Path()});

    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], kVerifying);
    EXPECT_EQ(lines.back(), kUpdateError);
    // Only the start's acknowledgement was read; the refused checksum (100
    // attempts) is not followed by a wait, and no reset is sent.
    EXPECT_EQ(run.ErrLines(), (Transcript{"ack 0 retries 0"}));
    EXPECT_EQ(StepsWithReplies(controller),
              (Transcript{"start", "ack 0", "data 50 x 5", "data 10", "checksum refused x 100"}));
    EXPECT_TRUE(controller.firmware.empty());
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

// An image that is all header (the 48 bytes the device's checksum skips)
// whose one data report never gets through: the device would verify nothing
// against the checksum of nothing and pass. The engine stops at the report
// that failed, sends no checksum and reports the failure.
TEST_F(FlakyLink, ControllerDataReportThatNeverArrivesEndsTheUpdate) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.extensions.push_back(std::make_unique<RefuseCommand>(sim::kImageData));
    TempFile file(ControllerImage::Checksumming({}).file);

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingController, kViaBootloader,
                                          "Image checksum: " + std::string(32, '0'),
                                          kStartingUpdate, kTransferring, kUpdateError}));
    EXPECT_EQ(Steps(controller), (Transcript{"start", "data 48 refused x 100"}));
    EXPECT_TRUE(controller.firmware.empty());
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

}  // namespace
