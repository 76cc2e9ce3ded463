// The full radio reflash over SWD: the controller in its application, the
// command line of each edition, the lines printed, the requests taken and
// the radio flash afterwards, byte for byte.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/SwdReflash.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "tests/SwdTestSupport.h"
#include "tests/TestSupport.h"

namespace {

using Lines_ = std::vector<std::string>;

const std::string kFiftyMarks(50, '.');

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
    std::vector<SwdRequest> Requests() const { return TakenRequests(bench->controller); }
    std::vector<std::uint32_t> Erased() const { return bench->probe.flash.pagesErased; }

    const sim::Bytes oldFlash = PatternBytes(5000, 77);
    std::optional<SwdBench> bench;
};

// Each erase is of a page that the next write is the first to touch.
void ExpectEachEraseJustBeforeItsFirstWrite(const std::vector<SwdRequest>& requests) {
    std::set<std::uint32_t> erased;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].code != kSwdEraseSectorCode) {
            continue;
        }
        EXPECT_TRUE(erased.insert(requests[i].address).second) << "erased twice " << requests[i];
        std::size_t next = i + 1;
        while (next < requests.size() && requests[next].code == kSwdEraseSectorCode) {
            ++next;
        }
        ASSERT_LT(next, requests.size());
        const SwdRequest& write = requests[next];
        EXPECT_EQ(write.code, kSwdWriteCode);
        EXPECT_LE(write.address, requests[i].address + 1023) << requests[i];
        EXPECT_GT(write.address + write.length, requests[i].address) << requests[i];
        for (std::size_t earlier = 0; earlier < i; ++earlier) {
            if (requests[earlier].code == kSwdWriteCode) {
                EXPECT_LE(requests[earlier].address + requests[earlier].length,
                          requests[i].address)
                    << "page " << requests[i] << " written before its erase";
            }
        }
    }
}

TEST_F(SwdReflash, StandardEditionProgramsTheApplicationAtZeroPageByPage) {
    PlugController();
    const auto app = PatternBytes(2048, 1);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "", "Starting SWD", "", "", "Programming Application at 0",
                                         "Transferring " + file.Path() + "...", "..",
                                         "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(result.err, "");

    // The file's two pages, and nothing beyond them, are erased and programmed.
    EXPECT_EQ(Flash(0, 2048), app);
    EXPECT_EQ(Flash(2048, 1024), OldFlash(2048, 1024));
    EXPECT_EQ(bench->probe.flash.corruptedBytes, 0u);
    EXPECT_EQ(Erased(), (std::vector<std::uint32_t>{0, 1024}));

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
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(bench->probe.restarts, 1);
}

TEST_F(SwdReflash, CompactEditionAddressFormProgramsAtTheAddressInSectorEraseMode) {
    PlugController();
    const auto app = PatternBytes(3000, 2);
    TempFile file(app);

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "", "Programming Application at 98304",
                      "Transferring " + file.Path() + "...", "..",
                      "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(Flash(98304, 3000), app);
    EXPECT_EQ(Flash(98304 - 1024, 1024), OldFlash(98304 - 1024, 1024));
    EXPECT_EQ(Flash(98304 + 3072, 1024), OldFlash(98304 + 3072, 1024));
    EXPECT_EQ(Erased(), (std::vector<std::uint32_t>{98304, 99328, 100352}));
    EXPECT_EQ(bench->probe.flash.chipErases, 0);
    ExpectEachEraseJustBeforeItsFirstWrite(Requests());
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
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "Radio full chip erase", "", "Programming SoftDevice",
                      "Transferring " + sd.Path() + "...", "....",
                      "Programming Application at 98304", "Transferring " + file.Path() + "...",
                      ".", "Radio Update Complete.  Rebooting"}));
    EXPECT_EQ(result.err, "");

    // Everything but the two images reads erased.
    sim::Bytes expected(bench->probe.flash.Size(), 0xFF);
    std::copy(softDevice.begin(), softDevice.end(), expected.begin());
    std::copy(app.begin(), app.end(), expected.begin() + 98304);
    EXPECT_TRUE(bench->probe.flash.Contents() == expected);
    EXPECT_EQ(bench->probe.flash.chipErases, 1);
    EXPECT_TRUE(Erased().empty());
    EXPECT_EQ(bench->controller.SentReports(kSwdEraseSectorCode).size(), 0u);
}

TEST_F(SwdReflash, PagesAreErasedOnceJustBeforeTheirFirstWrite) {
    // 8000 bytes from 0: a piece ends exactly on the page at 7168, and the
    // page is erased before the piece that starts there, not earlier.
    PlugController();
    const auto app = PatternBytes(8000, 5);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[8], ".......");
    EXPECT_EQ(Flash(0, 8000), app);
    EXPECT_EQ(Flash(8192, 1024), OldFlash(8192, 1024));
    EXPECT_EQ(Erased(), (std::vector<std::uint32_t>{0, 1024, 2048, 3072, 4096, 5120, 6144, 7168}));
    ExpectEachEraseJustBeforeItsFirstWrite(Requests());
}

TEST_F(SwdReflash, UnalignedBasePageIsWrittenWithoutAnErase) {
    // The base page also holds bytes before the file: they are kept, and the
    // pages after it are erased as the file reaches them.
    PlugController();
    bench->probe.flash.EraseAll();  // that page was erased by an earlier run
    const std::uint32_t base = 98304 + 1000;
    const auto app = PatternBytes(1200, 6);
    TempFile file(app);
    bench->probe.flash.Write(98304, sim::Bytes(1000, 0x5A));  // what came before the file

    const RunResult result = RunTool({"-s", std::to_string(base), file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[6], "Programming Application at 99304");
    EXPECT_EQ(result.OutLines()[8], "..");
    EXPECT_EQ(Erased(), (std::vector<std::uint32_t>{99328, 100352}));
    EXPECT_EQ(Flash(98304, 1000), sim::Bytes(1000, 0x5A));
    EXPECT_EQ(Flash(base, 1200), app);
}

TEST_F(SwdReflash, SmallEmptyAndWholePieceFiles) {
    QuorlControllerRadioSWDDevice radio(kControllerAppProductId);
    PlugController();
    ASSERT_TRUE(radio.Open());
    ASSERT_EQ(radio.StartFirmwareUpdate(), 0);
    testing::internal::CaptureStdout();

    // Shorter than a piece at an aligned base: erase, then the one write.
    TempFile small(PatternBytes(20, 7));
    EXPECT_EQ(ProgramFileOverSwd(radio, 4096, small.Path(), false), 0);
    // Empty: one mark at an aligned base, no request.
    TempFile empty({});
    EXPECT_EQ(ProgramFileOverSwd(radio, 8192, empty.Path(), false), 0);
    // 1064 bytes, 19 whole pieces: the last pass reads nothing, sends
    // nothing, and still marks the page boundary passed.
    TempFile whole(PatternBytes(1064, 8));
    EXPECT_EQ(ProgramFileOverSwd(radio, 0, whole.Path(), true), 0);

    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Transferring " + small.Path() + "...\n." + "Transferring " + empty.Path() +
                  "...\n." + "Transferring " + whole.Path() + "...\n..");
    std::vector<SwdRequest> expected = {{kSwdStartCode}, {kSwdEraseSectorCode, 4096},
                                        {kSwdWriteCode, 4096, 20}};
    for (std::uint32_t address = 0; address < 1064; address += 56) {
        expected.push_back({kSwdWriteCode, address, 56});
    }
    EXPECT_EQ(Requests(), expected);
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
    EXPECT_EQ(world.NowMs(), 50000u);
}

TEST_F(SwdReflash, ControllerEnumeratingLateIsWaitedFor) {
    PlugController().controller.appearAtMs = 3500;
    TempFile file(PatternBytes(100));

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[2], "....");
    EXPECT_EQ(result.OutLines()[3], "Starting SWD");
    EXPECT_EQ(Flash(0, 100), PatternBytes(100));
}

TEST_F(SwdReflash, SwdStartIsTriedFiftyTimes) {
    PlugController().probe.startFailures = 3;
    TempFile file(PatternBytes(100));
    RunResult result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[3], "Starting SWD");
    EXPECT_EQ(result.OutLines()[4], "...");
    EXPECT_EQ(result.OutLines()[5], "");

    world.Reset();
    PlugController().probe.startFailures = 50;
    result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(), (Lines_{"Updating radio firmware", "Attempting to update via USB...",
                                         "", "Starting SWD", kFiftyMarks, "Error starting SWD"}));
    EXPECT_EQ(bench->probe.starts, 50);
    EXPECT_EQ(bench->controller.SentReports(kSwdWriteCode).size(), 0u);
    EXPECT_EQ(Flash(0, 1024), OldFlash(0, 1024));
}

TEST_F(SwdReflash, ChipEraseIsTriedTenTimes) {
    TempFile sd(PatternBytes(100, 1));
    TempFile app(PatternBytes(100, 2));
    PlugController().probe.chipEraseFailures = 9;
    RunResult result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines()[5], "Radio full chip erase");
    EXPECT_EQ(result.OutLines()[6], ".........");
    EXPECT_EQ(result.OutLines()[7], "Programming SoftDevice");

    world.Reset();
    PlugController().probe.chipEraseFailures = 10;
    result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "Radio full chip erase",
                      "..........ERROR: full chip failed"}));
    EXPECT_EQ(bench->controller.SentReports(kSwdWriteCode).size(), 0u);
    EXPECT_EQ(bench->probe.ends, 0);  // left in SWD mode
}

TEST_F(SwdReflash, WriteFailureNamesItsAddressAndStops) {
    PlugController().probe.failWriteAt = 98304 + 1100;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "0x18000", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "", "Programming Application at 98304",
                      "Transferring " + file.Path() + "...", ".",
                      "Error: Write failed at address99368",
                      "ERROR: Application programming failed"}));
    EXPECT_EQ(bench->controller.SentReports(kSwdWriteCode).size(), 20u);
    // Neither the end of SWD mode nor the restart follows a failure.
    EXPECT_EQ(bench->probe.ends, 0);
    EXPECT_EQ(bench->probe.restarts, 0);
}

TEST_F(SwdReflash, SectorEraseFailureNamesThePage) {
    PlugController().probe.failEraseAt = 99328 + 5;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    const Lines_ lines = result.OutLines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[8], ".");
    EXPECT_EQ(lines[9], "Error: Sector erase failed at address99328");
    EXPECT_EQ(lines[10], "ERROR: Application programming failed");
    // The page is not written after its erase failed.
    EXPECT_EQ(bench->controller.SentReports(kSwdWriteCode).size(), 18u);
}

TEST_F(SwdReflash, MissingFilesAreReportedOnStandardError) {
    PlugController();
    RunResult result = RunTool({"-s", "/nonexistent/app.bin"});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err, "Unable to open: /nonexistent/app.bin\n");
    EXPECT_EQ(result.OutLines().back(), "ERROR: Application programming failed");
    EXPECT_EQ(result.OutLines()[6], "Programming Application at 0");

    world.Reset();
    PlugController();
    TempFile app(PatternBytes(100));
    result = RunTool({"-s", "/tmp", "98304", app.Path()}, Edition::Compact);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.err, "Unable to open: /tmp\n");
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "Radio full chip erase", "", "Programming SoftDevice",
                      "ERROR: SoftDevice programming failed"}));
}

TEST_F(SwdReflash, AReadErrorIsNotTakenForTheEndOfTheFile) {
    PlugController();
    // Linux opens this file, and its first read fails.
    const RunResult result = RunTool({"-s", "/proc/self/mem"});
    EXPECT_EQ(result.status, -1);
    const Lines_ lines = result.OutLines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[9], "Error: Read failed at offset0");
    EXPECT_EQ(lines[10], "ERROR: Application programming failed");
    EXPECT_EQ(bench->probe.ends, 0);
}

TEST_F(SwdReflash, EndOfSwdModeAndTheRestart) {
    PlugController().probe.refuseEnd = true;
    TempFile file(PatternBytes(100));
    RunResult result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              (Lines_{"Updating radio firmware", "Attempting to update via USB...", "",
                      "Starting SWD", "", "", "Programming Application at 0",
                      "Transferring " + file.Path() + "...", "Couldn't end SWD"}));
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

}  // namespace
