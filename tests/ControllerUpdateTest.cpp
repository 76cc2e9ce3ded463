// The main use end to end: a controller firmware update through its USB
// bootloader, as the user sees it and as the wire carries it.
#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

class ControllerUpdate : public CommandTest {
protected:
    static ControllerImage Image(std::size_t size) { return ControllerImage::Pattern(size, 3); }
};

TEST_F(ControllerUpdate, RebootsWritesAndRestartsTheController) {
    auto& controller = world.Add<ControllerModel>();
    const ControllerImage image = Image(5000);
    TempFile file(image.file);

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), Join({{kUpdatingController, kRebootSent, kViaBootloader},
                                    UpdateEngineLines(image.Checksum()),
                                    {kUpdated}}));
    EXPECT_EQ(run.err, "");
    // The device holds exactly the image, the file from its start region on.
    EXPECT_EQ(controller.firmware, image.image);
    EXPECT_EQ(controller.resetsFromBootloader, 1);

    // On the wire: the reboot magic to the application, then the update,
    // each command acknowledged where the protocol says so.
    EXPECT_EQ(StepsWithReplies(controller),
              (Transcript{"reboot", "start", "ack 0", "data 50 x 100", "checksum", "ack 0",
                          "reset"}));
    EXPECT_EQ(controller.checksumReceived, image.Checksum());

    // Waits: open retries while the bootloader enumerates, then the protocol's pauses.
    const auto& pauses = world.Pauses();
    ASSERT_GE(pauses.size(), 3u);
    EXPECT_EQ(std::vector<std::uint32_t>(pauses.end() - 3, pauses.end()),
              (std::vector<std::uint32_t>{100, 100, 100}));
}

TEST_F(ControllerUpdate, ControllerAlreadyInItsBootloader) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const ControllerImage image = Image(120);
    TempFile file(image.file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], kUpdatingController);
    EXPECT_EQ(lines[1], kViaBootloader);
    EXPECT_EQ(lines.back(), kUpdated);
    EXPECT_EQ(controller.firmware, image.image);
    // Pieces of 50, 50 and 20 bytes; no pause before the first open.
    EXPECT_EQ(Steps(controller),
              (Transcript{"start", "data 50 x 2", "data 20", "checksum", "reset"}));
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 1u);
}

TEST_F(ControllerUpdate, NoDeviceAtAll) {
    TempFile file(Image(10).file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingController, kViaBootloader, kOpenError}));
    EXPECT_EQ(world.OpenAttemptsFor(0x1102), 1u);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 20u);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(19, 500));
    EXPECT_EQ(world.NowMs(), 9500u);
}

TEST_F(ControllerUpdate, BootloaderThatComesTooLateIsMissed) {
    auto& controller = world.Add<ControllerModel>();
    controller.rebootDelayMs = 9600;
    TempFile file(Image(10).file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().back(), kOpenError);
    EXPECT_TRUE(controller.firmware.empty());
}

TEST_F(ControllerUpdate, BootloaderThatComesLateWithinTheRetriesIsUsed) {
    auto& controller = world.Add<ControllerModel>();
    controller.rebootDelayMs = 9400;
    const ControllerImage image = Image(10);
    TempFile file(image.file);
    EXPECT_EQ(RunTool({file.Path()}).status, 0);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 20u);
    EXPECT_EQ(controller.firmware, image.image);
}

// A mistyped path is found before the reboot: the running controller keeps
// its application instead of waiting in its bootloader.
TEST_F(ControllerUpdate, MissingImageFileLeavesTheRunningControllerAlone) {
    auto& controller = world.Add<ControllerModel>();
    const RunResult run = RunTool({"/nonexistent/firmware.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingController, kUpdateError}));
    EXPECT_EQ(run.ErrLines(), Transcript{UnableToOpen("/nonexistent/firmware.bin")});
    EXPECT_TRUE(Steps(controller).empty());
    EXPECT_EQ(controller.mode, ControllerModel::Mode::Application);
}

TEST_F(ControllerUpdate, DirectoryIsAFileThatCannotBeOpened) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const TempDirectory directory;
    const RunResult run = RunTool({directory.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(), Transcript{UnableToOpen(directory.Path())});
    EXPECT_EQ(run.OutLines(), (Transcript{kUpdatingController, kUpdateError}));
}

TEST_F(ControllerUpdate, RefusedStartEndsBeforeAnyData) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.startStatus = 5;
    TempFile file(Image(500).file);
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[lines.size() - 2], kStartingUpdate);
    EXPECT_EQ(lines.back(), kUpdateError);
    EXPECT_EQ(run.err, "ack 5 retries 0\n");
    EXPECT_EQ(StepsWithReplies(controller), (Transcript{"start", "ack 5"}));
}

TEST_F(ControllerUpdate, RejectedVerificationSendsNoReset) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.verifyStatus = 3;
    TempFile file(Image(500).file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[lines.size() - 2], kVerifying);
    EXPECT_EQ(lines.back(), kUpdateError);
    const Transcript steps = StepsWithReplies(controller);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), "ack 3");
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(ControllerUpdate, CorruptedTransferIsCaughtByTheDevicesChecksum) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    // The 20th data report is taken but lost inside the device: only the
    // bootloader's own check of the checksum can tell.
    TempFile file(Image(5000).file);
    struct DropData : sim::CommandExtension {
        int seen = 0;
        bool OnCommand(ControllerModel&, std::uint8_t code, const sim::Bytes&,
                       bool& accepted) override {
            if (code == sim::kImageData && ++seen == 20) {
                accepted = true;  // taken, but lost inside the device
                return true;
            }
            return false;
        }
    };
    controller.extensions.push_back(std::make_unique<DropData>());
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().back(), kUpdateError);
    EXPECT_TRUE(controller.firmware.empty());
}

TEST_F(ControllerUpdate, BusyAcknowledgementsAreWaitedThrough) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.busyPolls = 3;
    TempFile file(Image(60).file);
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.ErrLines(), (Transcript{"ack 0 retries 3", "ack 0 retries 3"}));
    EXPECT_EQ(StepsWithReplies(controller),
              (Transcript{"start", "ack busy x 3", "ack 0", "data 50", "data 10", "checksum",
                          "ack busy x 3", "ack 0", "reset"}));
}

TEST_F(ControllerUpdate, UnreadableStartAcknowledgementDoesNotStopTheUpdate) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.ack.failReads = 1;
    const ControllerImage image = Image(60);
    TempFile file(image.file);
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.ErrLines(), (Transcript{"ack failed  retries 0", "ack 0 retries 0"}));
    EXPECT_EQ(controller.firmware, image.image);
}

TEST_F(ControllerUpdate, UnreadableFinalAcknowledgementFails) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile file(Image(60).file);
    struct FailFinalRead : sim::CommandExtension {
        bool OnCommand(ControllerModel& host, std::uint8_t code, const sim::Bytes&, bool&) override {
            if (code == sim::kImageChecksum) {
                host.ack.failReads = 1;
            }
            return false;
        }
    };
    controller.extensions.push_back(std::make_unique<FailFinalRead>());
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(), (Transcript{"ack 0 retries 0", "ack failed  retries 0"}));
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(ControllerUpdate, PieceSizesAtTheEndOfTheImage) {
    for (const auto& [size, pieces] : std::vector<std::pair<std::size_t, Transcript>>{
             {100, {"data 50 x 2"}}, {101, {"data 50 x 2", "data 1"}}, {0, {}}}) {
        world.Reset();
        auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
        TempFile file(Image(size).file);
        const RunResult run = RunTool({file.Path()});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(Steps(controller), Join({{"start"}, pieces, {"checksum", "reset"}})) << size;
    }
}

TEST_F(ControllerUpdate, ShortImageHasAnAllZeroChecksum) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile file(ControllerImage::Checksumming({}).file);  // all header
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    ASSERT_GE(run.OutLines().size(), 3u) << run.out;
    EXPECT_EQ(run.OutLines()[2], "Image checksum: " + std::string(32, '0'));
}

TEST_F(ControllerUpdate, ChecksumLineOfAKnownTail) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile file(ControllerImage::Checksumming({'a', 'b', 'c'}).file);
    const Transcript lines = RunTool({file.Path()}).OutLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Image checksum: 616263" + std::string(26, 'f'));
}

TEST_F(ControllerUpdate, UnpluggedMidTransferFailsWithinTwoSeconds) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.unplugAfterReports = 500;  // the start and 499 data reports of 5000
    TempFile file(Image(250000).file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty());
    EXPECT_EQ(run.OutLines().back(), kUpdateError);
    EXPECT_LE(world.NowMs(), 2000u);
    EXPECT_TRUE(controller.firmware.empty());
}

}  // namespace
