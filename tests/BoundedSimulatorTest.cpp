// The simulator with its memory kept bounded (QUORL_SIM_BOUNDED, the
// benchmarks): the same transcript as with everything kept, counts instead of
// the wire log, and devices that still check every image they receive.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/ControllerModel.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

using sim::ControllerModel;

// Loses the given data report inside the device: taken, never stored.
struct LoseDataReport : sim::CommandExtension {
    explicit LoseDataReport(std::uint8_t code, int which) : code(code), which(which) {}
    bool OnCommand(ControllerModel&, std::uint8_t c, const sim::Bytes&, bool& accepted) override {
        if (c == code && ++seen == which) {
            accepted = true;
            return true;
        }
        return false;
    }
    std::uint8_t code;
    int which;
    int seen = 0;
};

class BoundedSimulator : public SimTest {};

TEST_F(BoundedSimulator, ControllerUpdateReadsTheSameWithCountsInsteadOfTheWireLog) {
    TempFile file(ControllerImage::Pattern(5003, 11).file);

    auto& full = world.Add<ControllerModel>();
    const RunResult fullRun = RunTool({file.Path()});
    const std::size_t fullWire = full.wire.size();
    const std::size_t fullPauses = world.Pauses().size();
    const std::uint64_t fullPausedMs = world.PausedMs();
    ASSERT_EQ(fullRun.status, 0);
    EXPECT_EQ(full.transfers, fullWire);
    EXPECT_EQ(world.PauseCount(), fullPauses);

    world.Reset();
    world.boundedMemory = true;
    auto& bounded = world.Add<ControllerModel>();
    const RunResult boundedRun = RunTool({file.Path()});

    EXPECT_EQ(boundedRun.status, 0);
    EXPECT_EQ(boundedRun.out, fullRun.out);
    EXPECT_EQ(boundedRun.err, fullRun.err);
    EXPECT_TRUE(bounded.wire.empty());
    EXPECT_EQ(bounded.transfers, fullWire);
    EXPECT_TRUE(world.Pauses().empty());
    EXPECT_EQ(world.PauseCount(), fullPauses);
    EXPECT_EQ(world.PausedMs(), fullPausedMs);
    // Checked as it arrived, never stored.
    EXPECT_TRUE(bounded.received.empty());
    EXPECT_TRUE(bounded.firmware.empty());
    EXPECT_EQ(bounded.receivedBytes, 5003u);
    EXPECT_EQ(bounded.resetsFromBootloader, 1);
}

TEST_F(BoundedSimulator, ControllerStillRejectsAnImageThatArrivedIncomplete) {
    world.boundedMemory = true;
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.extensions.push_back(std::make_unique<LoseDataReport>(sim::kImageData, 7));
    TempFile file(ControllerImage::Pattern(2000, 11).file);

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kUpdateError);
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(BoundedSimulator, ControllerChecksOnlyTheCurrentUpdate) {
    // A second update after a first one: the start clears what came before.
    world.boundedMemory = true;
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    controller.rebootDelayMs = 0;
    TempFile first(ControllerImage::Pattern(700, 11).file);
    TempFile second(ControllerImage::Pattern(90, 11).file);
    EXPECT_EQ(RunTool({first.Path()}).status, 0);
    world.Advance(1);
    EXPECT_EQ(RunTool({second.Path()}).status, 0);
    EXPECT_EQ(controller.updatesStarted, 2);
    EXPECT_EQ(controller.receivedBytes, 90u);
}

TEST_F(BoundedSimulator, RadioChecksItsImageAsItArrives) {
    world.boundedMemory = true;
    auto& controller = world.Add<ControllerModel>();
    const auto image = PatternBytes(2500, 5);
    TempFile file(image, "_module.bin");

    const RunResult run = RunTool({file.Path()});

    EXPECT_EQ(run.status, 0);
    ASSERT_FALSE(run.OutLines().empty()) << run.out;
    EXPECT_EQ(run.OutLines().back(), kUpdated);
    const auto& radio = *controller.radio;
    EXPECT_EQ(radio.updatesInstalled, 1);
    EXPECT_EQ(radio.receivedBytes, 2500u);
    EXPECT_TRUE(radio.received.empty());
    EXPECT_TRUE(radio.firmware.empty());
    EXPECT_TRUE(controller.wire.empty());
}

TEST_F(BoundedSimulator, RadioRejectsAnImageThatArrivedIncomplete) {
    world.boundedMemory = true;
    auto& controller = world.Add<ControllerModel>();
    controller.extensions.push_back(std::make_unique<LoseDataReport>(sim::kRadioData, 3));
    TempFile file(PatternBytes(2500, 5), "_module.bin");

    RunTool({file.Path()});

    EXPECT_EQ(controller.radio->updatesInstalled, 0);
}

TEST_F(BoundedSimulator, EveryTestStartsWithEverythingKept) {
    world.boundedMemory = true;
    world.Reset();
    EXPECT_FALSE(world.boundedMemory);
}

}  // namespace
