// The full radio reflash over SWD: the controller in its application, the
// command line of each edition, the lines printed, the requests taken and
// the radio flash afterwards, byte for byte.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/SwdReflash.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "tests/SwdTestSupport.h"
#include "tests/TestSupport.h"

namespace {

using Lines_ = std::vector<std::string>;
using Pages = std::vector<std::uint32_t>;

const std::string kFiftyMarks(50, '.');

Lines_ Join(Lines_ head, const Lines_& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The lines of a run that opened the controller and started SWD at once.
Lines_ Started(const Lines_& rest) {
    return Join({"Updating radio firmware", "Attempting to update via USB...", "", "Starting SWD", ""},
                rest);
}

// ... and programs the application alone, in sector-erase mode.
Lines_ ApplicationOnly(std::uint32_t address, const std::string& path, const Lines_& rest) {
    return Started(Join({"", "Programming Application at " + std::to_string(address),
                         "Transferring " + path + "..."},
                        rest));
}

class SwdReflash : public SimTest {
protected:
    // A controller whose radio holds an earlier firmware in every byte, so
    // that a page written without its erase, or erased needlessly, shows.
    SwdBench& PlugController() {
        bench.emplace(PlugSwdController(world));
        bench->probe.flash.Fill(oldFlash);
        return *bench;
    }
    sim::Bytes Flash(std::uint32_t address, std::size_t length) const {
        return bench->probe.flash.Read(address, length);
    }
    sim::Bytes OldFlash(std::uint32_t address, std::size_t length) const {
        sim::Bytes bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = oldFlash[(address + i) % oldFlash.size()];
        }
        return bytes;
    }
    Pages Erased() const { return bench->probe.flash.pagesErased; }
    std::size_t Writes() const { return bench->controller.SentReports(kSwdWriteCode).size(); }

    const sim::Bytes oldFlash = PatternBytes(5000, 77);
    std::optional<SwdBench> bench;
};

TEST_F(SwdReflash, StandardEditionProgramsTheApplicationAtZeroPageByPage) {
    PlugController();
    const auto app = PatternBytes(2048, 1);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(0, file.Path(), {"..", "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(result.err, "");
    // The file's two pages are erased and programmed; the page after the
    // file, where its last piece ends, keeps what it held.
    EXPECT_EQ(Flash(0, 2048), app);
    EXPECT_EQ(Flash(2048, 1024), OldFlash(2048, 1024));
    EXPECT_EQ(bench->probe.flash.corruptedBytes, 0u);

    std::vector<SwdRequest> expected = {{kSwdStartCode}, {kSwdEraseSectorCode, 0}};
    for (std::uint32_t address = 0; address < 2016; address += 56) {
        if (address == 1008) {
            expected.push_back({kSwdEraseSectorCode, 1024});
        }
        expected.push_back({kSwdWriteCode, address, 56});
    }
    expected.push_back({kSwdWriteCode, 2016, 32});
    expected.push_back({kSwdEndCode});
    expected.push_back({kRestartCode});
    EXPECT_EQ(TakenRequests(bench->controller), expected);
    EXPECT_EQ(bench->probe.restarts, 1);
}

TEST_F(SwdReflash, CompactEditionAddressFormProgramsAtTheAddressInSectorEraseMode) {
    PlugController();
    const auto app = PatternBytes(3000, 2);
    TempFile file(app);

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(), {"..", "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(Flash(98304, 3000), app);
    EXPECT_EQ(Flash(98304 - 1024, 1024), OldFlash(98304 - 1024, 1024));
    EXPECT_EQ(Flash(98304 + 3072, 1024), OldFlash(98304 + 3072, 1024));
    EXPECT_EQ(Erased(), (Pages{98304, 99328, 100352}));
    EXPECT_EQ(bench->probe.flash.chipErases, 0);
}

TEST_F(SwdReflash, CompactEditionSoftDeviceFormErasesTheChipFirst) {
    PlugController();
    const auto softDevice = PatternBytes(5000, 3);
    const auto app = PatternBytes(1100, 4);
    TempFile sd(softDevice);
    TempFile file(app);

    const RunResult result = RunTool({"-s", sd.Path(), "0x18000", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              Started({"Radio full chip erase", "", "Programming SoftDevice",
                       "Transferring " + sd.Path() + "...", "....",
                       "Programming Application at 98304", "Transferring " + file.Path() + "...",
                       ".", "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(result.err, "");
    // Everything but the two images reads erased; no page erase was sent.
    sim::Bytes expected(bench->probe.flash.Size(), 0xFF);
    std::copy(softDevice.begin(), softDevice.end(), expected.begin());
    std::copy(app.begin(), app.end(), expected.begin() + 98304);
    EXPECT_TRUE(bench->probe.flash.Contents() == expected);
    EXPECT_EQ(bench->probe.flash.chipErases, 1);
    EXPECT_EQ(bench->controller.SentReports(kSwdEraseSectorCode).size(), 0u);
}

TEST_F(SwdReflash, EachPageIsErasedOnceJustBeforeItsFirstWrite) {
    // From 0, the piece that ends at 7168 does not reach into that page:
    // its erase waits for the piece that starts there.
    PlugController();
    const auto app = PatternBytes(8000, 5);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[8], ".......");
    EXPECT_EQ(Flash(0, 8000), app);
    EXPECT_EQ(Flash(8192, 1024), OldFlash(8192, 1024));
    EXPECT_EQ(Erased(), (Pages{0, 1024, 2048, 3072, 4096, 5120, 6144, 7168}));
    const auto requests = TakenRequests(bench->controller);
    const auto erase = std::find(requests.begin(), requests.end(),
                                 SwdRequest{kSwdEraseSectorCode, 7168});
    ASSERT_NE(erase, requests.end());
    EXPECT_EQ(*(erase - 1), (SwdRequest{kSwdWriteCode, 7112, 56}));
    EXPECT_EQ(*(erase + 1), (SwdRequest{kSwdWriteCode, 7168, 56}));
}

// The page holding an unaligned base also holds bytes the file does not own:
// before the base and, for a file that ends inside the page, after its end.
// Over the earlier firmware, writing the file without an erase would corrupt
// it; the page is read, erased, and those bytes are written back.
TEST_F(SwdReflash, UnalignedBasePageKeepsTheBytesTheFileDoesNotOwn) {
    for (const auto& [base, size] : {std::pair{99304u, 1200u}, std::pair{1000u, 23u}}) {
        SCOPED_TRACE(base);
        world.Reset();
        PlugController();
        const auto app = PatternBytes(size, 6);
        TempFile file(app);
        const std::uint32_t page = base / 1024 * 1024;
        const std::uint32_t keptAfter = std::max(base + size, page + 1024);

        const RunResult result =
            RunTool({"-s", std::to_string(base), file.Path()}, Edition::Compact);

        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.OutLines().back(), "Radio Update Complete.  Rebooting");
        EXPECT_EQ(bench->probe.flash.corruptedBytes, 0u);
        EXPECT_EQ(Erased().front(), page);
        EXPECT_EQ(Flash(base, size), app);
        EXPECT_EQ(Flash(page, base - page), OldFlash(page, base - page));
        EXPECT_EQ(Flash(keptAfter, page + 1024 - std::min(keptAfter, page + 1024)),
                  OldFlash(keptAfter, page + 1024 - std::min(keptAfter, page + 1024)));
    }
}

TEST_F(SwdReflash, ShortEmptyAndWholePieceFiles) {
    PlugController();
    QuorlControllerRadioSWDDevice radio(kControllerAppProductId);
    ASSERT_TRUE(radio.Open());
    ASSERT_EQ(radio.StartFirmwareUpdate(), 0);
    TempFile small(PatternBytes(20, 7));
    TempFile empty({});
    TempFile whole(PatternBytes(1064, 8));  // 19 pieces of 56

    testing::internal::CaptureStdout();
    // Shorter than a piece at an aligned base: the page is erased first.
    EXPECT_EQ(ProgramFileOverSwd(radio, 4096, small.Path(), false), 0);
    // Empty: no request, one mark at an aligned base.
    EXPECT_EQ(ProgramFileOverSwd(radio, 8192, empty.Path(), false), 0);
    // The last pass reads nothing and sends nothing, but marks the boundary.
    EXPECT_EQ(ProgramFileOverSwd(radio, 0, whole.Path(), true), 0);

    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Transferring " + small.Path() + "...\n." + "Transferring " + empty.Path() +
                  "...\n." + "Transferring " + whole.Path() + "...\n..");
    std::vector<SwdRequest> expected = {
        {kSwdStartCode}, {kSwdEraseSectorCode, 4096}, {kSwdWriteCode, 4096, 20}};
    for (std::uint32_t address = 0; address < 1064; address += 56) {
        expected.push_back({kSwdWriteCode, address, 56});
    }
    EXPECT_EQ(TakenRequests(bench->controller), expected);
    EXPECT_EQ(Flash(4096, 20), PatternBytes(20, 7));
}

TEST_F(SwdReflash, NoControllerMarksFiftySecondsThenGivesUp) {
    TempFile file(PatternBytes(100));

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out, "Updating radio firmware\nAttempting to update via USB...\n" + kFiftyMarks +
                              "Failed to open USB device!\n");
    EXPECT_EQ(world.OpenAttemptsFor(kControllerAppProductId), 50u);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(50, 1000));
}

TEST_F(SwdReflash, LateControllerAndRetriedStartAndChipErase) {
    TempFile sd(PatternBytes(100, 1));
    TempFile app(PatternBytes(100, 2));
    SwdBench& plugged = PlugController();
    plugged.controller.appearAtMs = 3500;
    plugged.probe.startFailures = 49;
    plugged.probe.chipEraseFailures = 9;

    const RunResult result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    const Lines_ lines = result.OutLines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(Lines_(lines.begin(), lines.begin() + 8),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "....",
                      "Starting SWD", std::string(49, '.'), "Radio full chip erase", ".........",
                      "Programming SoftDevice"}));
    EXPECT_EQ(Flash(0, 100), PatternBytes(100, 1));
    EXPECT_EQ(Flash(98304, 100), PatternBytes(100, 2));
}

TEST_F(SwdReflash, SwdStartFailingFiftyTimes) {
    PlugController().probe.startFailures = 50;
    TempFile file(PatternBytes(100));

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "", "Starting SWD", kFiftyMarks, "Error starting SWD"}));
    EXPECT_EQ(bench->probe.starts, 50);
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(SwdReflash, ChipEraseFailingTenTimes) {
    PlugController().probe.chipEraseFailures = 10;
    TempFile sd(PatternBytes(100, 1));
    TempFile app(PatternBytes(100, 2));

    const RunResult result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              Started({"Radio full chip erase", "..........ERROR: full chip failed"}));
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(bench->probe.ends, 0);  // left in SWD mode
}

TEST_F(SwdReflash, WriteFailureNamesItsAddressAndStops) {
    PlugController().probe.failWriteAt = 98304 + 1100;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "0x18000", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(),
                              {".", "Error: Write failed at address99368",
                               "ERROR: Application programming failed"}));
    EXPECT_EQ(Writes(), 20u);
    // Neither the end of SWD mode nor the restart follows a failure.
    EXPECT_EQ(bench->probe.ends, 0);
    EXPECT_EQ(bench->probe.restarts, 0);
}

TEST_F(SwdReflash, SectorEraseFailureNamesThePage) {
    PlugController().probe.failEraseAt = 99328 + 5;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(),
                              {".", "Error: Sector erase failed at address99328",
                               "ERROR: Application programming failed"}));
    EXPECT_EQ(Writes(), 18u);  // nothing written into the page that was not erased

    // At an unaligned base, the base's page cannot be erased safely when its
    // other bytes cannot be read first: nothing is erased or written.
    world.Reset();
    PlugController().probe.withheldReadReplies = 1000;
    const RunResult unread = RunTool({"-s", "98400", file.Path()}, Edition::Compact);
    EXPECT_EQ(unread.status, -1);
    EXPECT_EQ(unread.OutLines(),
              ApplicationOnly(98400, file.Path(),
                              {"", "Error: Sector erase failed at address98304",
                               "ERROR: Application programming failed"}));
    EXPECT_TRUE(Erased().empty());
    EXPECT_EQ(Writes(), 0u);
}

// Found with the other checks, before anything reaches the controller, and
// before the full chip erase when a SoftDevice goes first.
TEST_F(SwdReflash, AFileRunningPastTheAddressSpaceIsNotWrappedOntoAddressZero) {
    TempFile file(PatternBytes(100));
    TempFile sd(PatternBytes(300, 3));
    for (const auto& args : {std::vector<std::string>{"-s", "0xFFFFFFF0", file.Path()},
                             std::vector<std::string>{"-s", sd.Path(), "0xFFFFFFF0", file.Path()}}) {
        world.Reset();
        PlugController();

        const RunResult result = RunTool(args, Edition::Compact);

        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.OutLines(),
                  (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                          "ERROR: Application at 4294967280 runs past the end of the address space, "
                          "to 4294967380"}));
        EXPECT_TRUE(bench->controller.wire.empty());
        EXPECT_EQ(bench->probe.flash.chipErases, 0);
        EXPECT_EQ(Flash(0, 1024), OldFlash(0, 1024));
    }
}

TEST_F(SwdReflash, UnreadableFiles) {
    PlugController();
    RunResult result = RunTool({"-s", "/nonexistent/app.bin"});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err, "Unable to open: /nonexistent/app.bin\n");
    // Checked before the controller is opened: it never enters SWD mode.
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "ERROR: Application programming failed"}));
    EXPECT_TRUE(bench->controller.wire.empty());

    world.Reset();
    PlugController();
    TempFile app(PatternBytes(100));
    result = RunTool({"-s", "/tmp", "98304", app.Path()}, Edition::Compact);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err, "Unable to open: /tmp\n");
    // Checked before the full chip erase, which would leave the radio empty.
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "ERROR: SoftDevice programming failed"}));
    EXPECT_EQ(bench->probe.flash.chipErases, 0);
    EXPECT_EQ(Flash(0, 100), OldFlash(0, 100));

    // Linux opens this file, and its first read fails: that is no empty image.
    world.Reset();
    PlugController();
    result = RunTool({"-s", "/proc/self/mem"});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err, "Unable to open: /proc/self/mem\n");
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "ERROR: Application programming failed"}));
    EXPECT_TRUE(bench->controller.wire.empty());
}

TEST_F(SwdReflash, EndOfSwdModeAndTheRestart) {
    PlugController().probe.refuseEnd = true;
    TempFile file(PatternBytes(100));
    RunResult result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(), ApplicationOnly(0, file.Path(), {"Couldn't end SWD"}));
    EXPECT_EQ(bench->probe.restarts, 0);

    // Unplugged once SWD mode was ended: the failed restart changes nothing.
    world.Reset();
    PlugController().controller.unplugAfterReports = 5;  // start, erase, two writes, end
    result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines().back(), "Radio Update Complete.  Rebooting");
    EXPECT_EQ(bench->probe.ends, 1);
    EXPECT_EQ(bench->probe.restarts, 0);
    EXPECT_EQ(Flash(0, 100), PatternBytes(100));
}

// An application that starts inside the SoftDevice would be programmed over
// it after the chip erase, leaving neither image; the command refuses it
// before anything reaches the controller. Right behind the SoftDevice is fine.
TEST_F(SwdReflash, ApplicationInsideTheSoftDeviceIsRefusedBeforeTheChipErase) {
    PlugController();
    TempFile sd(PatternBytes(300, 3));
    TempFile app(PatternBytes(100, 4));

    const RunResult result = RunTool({"-s", sd.Path(), "256", app.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                      "ERROR: Application at 256 overlaps the SoftDevice, which ends at 300"}));
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(bench->controller.wire.empty());
    EXPECT_EQ(Flash(0, 1024), OldFlash(0, 1024));

    world.Reset();
    PlugController();
    EXPECT_EQ(RunTool({"-s", sd.Path(), "300", app.Path()}, Edition::Compact).status, 0);
    EXPECT_EQ(Flash(0, 300), PatternBytes(300, 3));
    EXPECT_EQ(Flash(300, 100), PatternBytes(100, 4));
}

}  // namespace
