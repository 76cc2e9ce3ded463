// The main use end to end: a controller firmware update through its USB
// bootloader, as the user sees it and as the wire carries it.
#include <gtest/gtest.h>

#include "sim/ReferenceChecksum.h"
#include "tests/TestSupport.h"

namespace {

using sim::ControllerModel;

std::string Hex(const std::array<std::uint8_t, 16>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

class ControllerUpdate : public SimTest {
protected:
    // A controller image: an 8192-byte region that is not sent, then the image.
    std::vector<std::uint8_t> Image(std::size_t sentBytes, std::uint32_t seed = 3) {
        std::vector<std::uint8_t> image(8192, 0xAA);
        const auto body = PatternBytes(sentBytes, seed);
        image.insert(image.end(), body.begin(), body.end());
        return image;
    }
    static std::string ChecksumLine(const std::vector<std::uint8_t>& image) {
        const sim::Bytes checked(image.begin() + std::min<std::size_t>(image.size(), 8240), image.end());
        return "Image checksum: " + Hex(sim::ReferenceChecksum(checked));
    }
    void TearDown() override {
        EXPECT_EQ(world.liveHandles, 0) << "a device handle outlived its command";
        SimTest::TearDown();
    }
};

TEST_F(ControllerUpdate, RebootsWritesAndRestartsTheController) {
    auto& controller = world.Add<ControllerModel>();
    const auto image = Image(5000);
    TempFile file(image);

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>{
                                  "Updating controller firmware",
                                  "Sent reboot into bootloader.",
                                  "Attempting to update via bootloader...",
                                  ChecksumLine(image),
                                  "Starting firmware update...",
                                  "Transfering data...",
                                  "Verifying...",
                                  "Successfully updated firmware.",
                              }));
    EXPECT_EQ(run.err, "");
    // The device holds exactly the image from file offset 8192 on.
    EXPECT_EQ(controller.firmware, sim::Bytes(image.begin() + 8192, image.end()));
    EXPECT_EQ(controller.resetsFromBootloader, 1);

    // On the wire: the reboot magic to the application, then the update.
    const std::vector<sim::Bytes> sent = controller.SentReports();
    ASSERT_EQ(sent.size(), 1u + 1u + 100u + 1u + 1u);
    EXPECT_EQ(sim::Bytes(sent[0].begin(), sent[0].begin() + 6), HexBytes("95 04 5E 71 D2 3A"));
    EXPECT_EQ(sim::Bytes(sent[1].begin(), sent[1].begin() + 2), HexBytes("91 00"));
    for (std::size_t piece = 0; piece < 100; ++piece) {
        const sim::Bytes& report = sent[2 + piece];
        ASSERT_EQ(report[0], 0x92);
        ASSERT_EQ(report[1], 50);
        ASSERT_TRUE(std::equal(report.begin() + 2, report.begin() + 52,
                               image.begin() + 8192 + static_cast<long>(piece) * 50));
        ASSERT_TRUE(std::all_of(report.begin() + 52, report.end(), [](auto b) { return b == 0; }));
    }
    const sim::Bytes& checksum = sent[102];
    EXPECT_EQ(checksum[0], 0x93);
    EXPECT_EQ(checksum[1], 0x10);
    EXPECT_EQ(*controller.checksumReceived,
              sim::ReferenceChecksum(sim::Bytes(image.begin() + 8240, image.end())));
    EXPECT_EQ(sim::Bytes(sent[103].begin(), sent[103].begin() + 3), HexBytes("95 00 00"));

    // Waits: open retries while the bootloader enumerates, then the protocol's pauses.
    const auto& pauses = world.Pauses();
    ASSERT_GE(pauses.size(), 3u);
    EXPECT_EQ(std::vector<std::uint32_t>(pauses.end() - 3, pauses.end()),
              (std::vector<std::uint32_t>{100, 100, 100}));
}

TEST_F(ControllerUpdate, ControllerAlreadyInItsBootloader) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const auto image = Image(120);
    TempFile file(image);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Updating controller firmware");
    EXPECT_EQ(lines[1], "Attempting to update via bootloader...");
    EXPECT_EQ(lines.back(), "Successfully updated firmware.");
    EXPECT_EQ(controller.firmware, sim::Bytes(image.begin() + 8192, image.end()));
    // Pieces of 50, 50 and 20 bytes; no pause before the first open.
    EXPECT_EQ(controller.SentReports(0x92).size(), 3u);
    EXPECT_EQ(controller.SentReports(0x92)[2][1], 20);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 1u);
}

TEST_F(ControllerUpdate, NoDeviceAtAll) {
    TempFile file(Image(10));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>{
                                  "Updating controller firmware",
                                  "Attempting to update via bootloader...",
                                  "Error opening device.",
                              }));
    EXPECT_EQ(world.OpenAttemptsFor(0x1102), 1u);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 20u);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(19, 500));
    EXPECT_EQ(world.NowMs(), 9500u);
}

TEST_F(ControllerUpdate, BootloaderThatComesTooLateIsMissed) {
    auto& controller = world.Add<ControllerModel>();
    controller.rebootDelayMs = 9600;
    TempFile file(Image(10));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), "Error opening device.");
    EXPECT_TRUE(controller.firmware.empty());
}

TEST_F(ControllerUpdate, BootloaderThatComesLateWithinTheRetriesIsUsed) {
    auto& controller = world.Add<ControllerModel>();
    controller.rebootDelayMs = 9400;
    const auto image = Image(10);
    TempFile file(image);
    EXPECT_EQ(RunTool({file.Path()}).status, 0);
    EXPECT_EQ(world.OpenAttemptsFor(0x1002), 20u);
    EXPECT_EQ(controller.firmware, sim::Bytes(image.begin() + 8192, image.end()));
}

// A mistyped path is found before the reboot: the running controller keeps
// its application instead of waiting in its bootloader.
TEST_F(ControllerUpdate, MissingImageFileLeavesTheRunningControllerAlone) {
    auto& controller = world.Add<ControllerModel>();
    const RunResult run = RunTool({"/nonexistent/firmware.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>{
                                  "Updating controller firmware",
                                  "Error updating firmware.",
                              }));
    EXPECT_EQ(run.err, "Unable to open: /nonexistent/firmware.bin\n");
    EXPECT_TRUE(controller.SentReports().empty());
    EXPECT_EQ(controller.mode, ControllerModel::Mode::Application);
}

TEST_F(ControllerUpdate, DirectoryIsAFileThatCannotBeOpened) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const RunResult run = RunTool({"/tmp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Unable to open: /tmp\n");
    EXPECT_EQ(run.OutLines().back(), "Error updating firmware.");
}

TEST_F(ControllerUpdate, RefusedStartEndsBeforeAnyData) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.startStatus = 5;
    TempFile file(Image(500));
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    EXPECT_EQ(lines[lines.size() - 2], "Starting firmware update...");
    EXPECT_EQ(lines.back(), "Error updating firmware.");
    EXPECT_EQ(run.err, "ack 5 retries 0\n");
    EXPECT_TRUE(controller.SentReports(0x92).empty());
    EXPECT_TRUE(controller.SentReports(0x93).empty());
}

TEST_F(ControllerUpdate, RejectedVerificationSendsNoReset) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.verifyStatus = 3;
    TempFile file(Image(500));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    EXPECT_EQ(lines[lines.size() - 2], "Verifying...");
    EXPECT_EQ(lines.back(), "Error updating firmware.");
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(ControllerUpdate, CorruptedTransferIsCaughtByTheDevicesChecksum) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    // The 20th data report is taken but lost inside the device: only the
    // bootloader's own check of the checksum can tell.
    TempFile file(Image(5000));
    struct DropData : sim::CommandExtension {
        int seen = 0;
        bool OnCommand(sim::ControllerModel&, std::uint8_t code, const sim::Bytes&, bool& accepted) override {
            if (code == 0x92 && ++seen == 20) {
                accepted = true;  // taken, but lost inside the device
                return true;
            }
            return false;
        }
    };
    controller.extensions.push_back(std::make_unique<DropData>());
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), "Error updating firmware.");
    EXPECT_TRUE(controller.firmware.empty());
}

TEST_F(ControllerUpdate, BusyAcknowledgementsAreWaitedThrough) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.busyPolls = 3;
    TempFile file(Image(60));
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{"ack 0 retries 3", "ack 0 retries 3"}));
}

TEST_F(ControllerUpdate, UnreadableStartAcknowledgementDoesNotStopTheUpdate) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.ack.failReads = 1;
    const auto image = Image(60);
    TempFile file(image);
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{"ack failed  retries 0", "ack 0 retries 0"}));
    EXPECT_EQ(controller.firmware, sim::Bytes(image.begin() + 8192, image.end()));
}

TEST_F(ControllerUpdate, UnreadableFinalAcknowledgementFails) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile file(Image(60));
    struct FailFinalRead : sim::CommandExtension {
        bool OnCommand(sim::ControllerModel& host, std::uint8_t code, const sim::Bytes&, bool&) override {
            if (code == 0x93) {
                host.ack.failReads = 1;
            }
            return false;
        }
    };
    controller.extensions.push_back(std::make_unique<FailFinalRead>());
    const RunResult run = RunTool({"-d", file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{"ack 0 retries 0", "ack failed  retries 0"}));
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(ControllerUpdate, PieceSizesAtTheEndOfTheImage) {
    for (const auto& [sent, pieces] : std::vector<std::pair<std::size_t, std::vector<int>>>{
             {100, {50, 50}}, {101, {50, 50, 1}}, {0, {}}}) {
        world.Reset();
        auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
        const auto image = Image(sent);
        TempFile file(image);
        const RunResult run = RunTool({file.Path()});
        EXPECT_EQ(run.status, 0);
        std::vector<int> lengths;
        for (const sim::Bytes& report : controller.SentReports(0x92)) {
            lengths.push_back(report[1]);
        }
        EXPECT_EQ(lengths, pieces) << sent;
        EXPECT_EQ(controller.SentReports(0x91).size(), 1u);
        EXPECT_EQ(controller.SentReports(0x93).size(), 1u);
    }
}

TEST_F(ControllerUpdate, ShortImageHasAnAllZeroChecksum) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    TempFile file(std::vector<std::uint8_t>(8240, 0x11));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.OutLines()[2], "Image checksum: " + std::string(32, '0'));
}

TEST_F(ControllerUpdate, ChecksumLineOfAKnownTail) {
    world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    std::vector<std::uint8_t> image(8240, 0);
    image.push_back('a');
    image.push_back('b');
    image.push_back('c');
    TempFile file(image);
    EXPECT_EQ(RunTool({file.Path()}).OutLines()[2], "Image checksum: 616263" + std::string(26, 'f'));
}

}  // namespace

namespace {

TEST_F(ControllerUpdate, UnpluggedMidTransferFailsWithinTwoSeconds) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.unplugAfterReports = 500;  // the start and 499 data reports of 5000
    TempFile file(Image(250000));
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines().back(), "Error updating firmware.");
    EXPECT_LE(world.NowMs(), 2000u);
    EXPECT_TRUE(controller.firmware.empty());
}

}  // namespace
