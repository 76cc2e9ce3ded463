// Faults of the link between host and device that fuzzing the devices'
// answers turned up (fuzz/DeviceAnswersFuzzer.cpp), as device transcripts:
// none of them may end in a success for an image the device does not hold.
#include <gtest/gtest.h>

#include <memory>

#include "tests/TestSupport.h"

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

std::size_t Attempts(const sim::SimDevice& device, std::uint8_t code) {
    std::size_t count = 0;
    for (const sim::WireRecord& record : device.wire) {
        count += record.transfer == sim::Transfer::SetFeature && !record.bytes.empty() &&
                         record.bytes[0] == code
                     ? 1
                     : 0;
    }
    return count;
}

class FlakyLink : public SimTest {
protected:
    static std::vector<std::uint8_t> ControllerImage(std::size_t sentBytes) {
        std::vector<std::uint8_t> image(8192, 0xAA);
        const auto body = PatternBytes(sentBytes, 9);
        image.insert(image.end(), body.begin(), body.end());
        return image;
    }
    void TearDown() override {
        EXPECT_EQ(world.liveHandles, 0) << "a device handle outlived its command";
        SimTest::TearDown();
    }
};

// The bootloader never received the checksum, so it verified nothing; the
// acknowledgement it still shows is the start's, with status 0, and must not
// pass for the verification.
TEST_F(FlakyLink, ControllerChecksumThatNeverArrivesIsNoSuccess) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.extensions.push_back(std::make_unique<RefuseCommand>(0x93));
    TempFile file(ControllerImage(260));

    const RunResult run = RunTool({"-d", file.Path()});

    EXPECT_EQ(run.status, 1);
    const auto lines = run.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Verifying...");
    EXPECT_EQ(lines.back(), "Error updating firmware.");
    // Only the start's acknowledgement was read; the refused checksum (100
    // attempts) is not followed by a wait, and no reset is sent.
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{"ack 0 retries 0"}));
    EXPECT_EQ(Attempts(controller, 0x93), 100u);
    EXPECT_TRUE(controller.firmware.empty());
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

// An image that is all header (the 48 bytes the device's checksum skips)
// whose one data report never gets through: the device would verify nothing
// against the checksum of nothing and pass. The engine stops at the report
// that failed, sends no checksum and reports the failure.
TEST_F(FlakyLink, ControllerDataReportThatNeverArrivesEndsTheUpdate) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.extensions.push_back(std::make_unique<RefuseCommand>(0x92));
    TempFile file(ControllerImage(48));

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>{
                                  "Updating controller firmware",
                                  "Attempting to update via bootloader...",
                                  "Image checksum: " + std::string(32, '0'),
                                  "Starting firmware update...",
                                  "Transfering data...",
                                  "Error updating firmware.",
                              }));
    EXPECT_EQ(Attempts(controller, 0x92), 100u);
    EXPECT_EQ(Attempts(controller, 0x93), 0u);
    EXPECT_TRUE(controller.firmware.empty());
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

}  // namespace
