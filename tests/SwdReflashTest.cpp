// The full radio reflash over SWD: the controller in its application, the
// command line of each edition, the lines printed, the requests taken and
// the radio flash afterwards, byte for byte.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/SwdReflash.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "sim/ControllerModel.h"
#include "testsupport/Bytes.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "tests/SimTest.h"

namespace {

using Pages = std::vector<std::uint32_t>;

const std::string kFiftyMarks(50, '.');

// The lines of a run that opened the controller and started SWD at once.
Transcript Started(const Transcript& rest) {
    return Join({{kUpdatingRadio, kViaUsb, "", kStartingSwd, ""}, rest});
}

// ... and programs the application alone, in sector-erase mode.
Transcript ApplicationOnly(std::uint32_t address, const std::string& path, const Transcript& rest) {
    return Started(Join({{"", "Programming Application at " + std::to_string(address),
                          "Transferring " + path + "..."},
                         rest}));
}

std::string SwdWrite(std::uint32_t address, std::size_t length) {
    return "swd write " + std::to_string(address) + " " + std::to_string(length);
}

std::string SwdErase(std::uint32_t address) { return "swd erase " + std::to_string(address); }

class SwdReflash : public SimTest {
protected:
    // A controller whose radio holds an earlier firmware in every byte, so
    // that a page written without its erase, or erased needlessly, shows.
    sim::ControllerModel& PlugController() {
        controller = &world.Add<sim::ControllerModel>();
        probe = &*controller->swdProbe;
        probe->flash.Fill(oldFlash);
        return *controller;
    }
    Bytes Flash(std::uint32_t address, std::size_t length) const {
        return probe->flash.Read(address, length);
    }
    Bytes OldFlash(std::uint32_t address, std::size_t length) const {
        return Repeating(oldFlash, address, length);
    }
    Pages Erased() const { return probe->flash.pagesErased; }
    // A compact command line refused after the first two lines, before the
    // controller is opened: nothing reaches it, and the radio keeps its flash.
    void ExpectRefusedBeforeTheController(const std::vector<std::string>& args,
                                          const std::string& line) {
        world.Reset();
        PlugController();
        const RunResult result = RunTool(args, Edition::Compact);
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.OutLines(), (Transcript{kUpdatingRadio, kViaUsb, line}));
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(world.OpenAttempts().empty());
        EXPECT_TRUE(controller->wire.empty());
        EXPECT_EQ(probe->flash.chipErases, 0);
        EXPECT_EQ(Flash(0, 1024), OldFlash(0, 1024));
    }
    std::size_t Writes() const { return controller->SentReports(sim::kSwdWrite).size(); }

    const Bytes oldFlash = PatternBytes(5000, 77);
    sim::ControllerModel* controller = nullptr;
    sim::SwdProbeModel* probe = nullptr;
};

TEST_F(SwdReflash, StandardEditionProgramsTheApplicationAtZeroPageByPage) {
    PlugController();
    const auto app = PatternBytes(2048, 1);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(0, file.Path(), {"..", kReflashed}));
    EXPECT_EQ(result.err, "");
    // The file's two pages are erased and programmed; the page after the
    // file, where its last piece ends, keeps what it held.
    EXPECT_EQ(Flash(0, 2048), app);
    EXPECT_EQ(Flash(2048, 1024), OldFlash(2048, 1024));
    EXPECT_EQ(probe->flash.corruptedBytes, 0u);

    // The write that reaches into the second page waits for that page's erase.
    Transcript expected = {"swd start", SwdErase(0)};
    for (std::uint32_t address = 0; address < 2016; address += 56) {
        if (address == 1008) {
            expected.push_back(SwdErase(1024));
        }
        expected.push_back(SwdWrite(address, 56));
    }
    expected.push_back(SwdWrite(2016, 32));
    expected.push_back("swd end");
    expected.push_back("reset");
    EXPECT_EQ(Steps(*controller), expected);
    EXPECT_EQ(probe->restarts, 1);
}

TEST_F(SwdReflash, CompactEditionAddressFormProgramsAtTheAddressInSectorEraseMode) {
    PlugController();
    const auto app = PatternBytes(3000, 2);
    TempFile file(app);

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(), {"..", kReflashed}));
    EXPECT_EQ(Flash(98304, 3000), app);
    EXPECT_EQ(Flash(98304 - 1024, 1024), OldFlash(98304 - 1024, 1024));
    EXPECT_EQ(Flash(98304 + 3072, 1024), OldFlash(98304 + 3072, 1024));
    EXPECT_EQ(Erased(), (Pages{98304, 99328, 100352}));
    EXPECT_EQ(probe->flash.chipErases, 0);
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
                       ".", kReflashed}));
    EXPECT_EQ(result.err, "");
    // Everything but the two images reads erased; no page erase was sent.
    Bytes expected(probe->flash.Size(), 0xFF);
    std::copy(softDevice.begin(), softDevice.end(), expected.begin());
    std::copy(app.begin(), app.end(), expected.begin() + 98304);
    EXPECT_TRUE(probe->flash.Contents() == expected);
    EXPECT_EQ(probe->flash.chipErases, 1);
    EXPECT_EQ(controller->SentReports(sim::kSwdEraseSector).size(), 0u);
}

TEST_F(SwdReflash, EachPageIsErasedOnceJustBeforeItsFirstWrite) {
    // From 0, the piece that ends at 7168 does not reach into that page:
    // its erase waits for the piece that starts there.
    PlugController();
    const auto app = PatternBytes(8000, 5);
    TempFile file(app);

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, 0);
    ASSERT_GE(result.OutLines().size(), 9u) << result.out;
    EXPECT_EQ(result.OutLines()[8], ".......");
    EXPECT_EQ(Flash(0, 8000), app);
    EXPECT_EQ(Flash(8192, 1024), OldFlash(8192, 1024));
    EXPECT_EQ(Erased(), (Pages{0, 1024, 2048, 3072, 4096, 5120, 6144, 7168}));
    const Transcript steps = Steps(*controller);
    const auto erase = std::find(steps.begin(), steps.end(), SwdErase(7168));
    ASSERT_NE(erase, steps.end());
    EXPECT_EQ(Transcript(erase - 1, erase + 2),
              (Transcript{SwdWrite(7112, 56), SwdErase(7168), SwdWrite(7168, 56)}));
}

// The page holding an unaligned base also holds bytes the file does not own:
// before the base and, for a file that ends inside the page, after its end.
// Over the earlier firmware, writing the file without an erase would corrupt
// it; the page is read, erased, and those bytes are written back. A reply
// that still holds the previous read (its address, its bytes) is no answer
// to the next one: taken, it would be written back in its place.
TEST_F(SwdReflash, UnalignedBasePageKeepsTheBytesTheFileDoesNotOwn) {
    struct Case {
        std::uint32_t base;
        std::uint32_t size;
        int staleReplies;
    };
    for (const auto& [base, size, staleReplies] :
         {Case{99304, 1200, 0}, Case{1000, 23, 0}, Case{99304, 1200, 1}, Case{1000, 23, 5}}) {
        SCOPED_TRACE(std::to_string(base) + " stale " + std::to_string(staleReplies));
        world.Reset();
        PlugController();
        probe->staleReadReplies = staleReplies;
        const auto app = PatternBytes(size, 6);
        TempFile file(app);
        const std::uint32_t page = base / 1024 * 1024;
        const std::uint32_t keptAfter = std::min(base + size, page + 1024);

        const RunResult result =
            RunTool({"-s", std::to_string(base), file.Path()}, Edition::Compact);

        EXPECT_EQ(result.status, 0);
        ASSERT_FALSE(result.OutLines().empty()) << result.out;
        EXPECT_EQ(result.OutLines().back(), kReflashed);
        EXPECT_EQ(probe->flash.corruptedBytes, 0u);
        ASSERT_FALSE(Erased().empty());
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
    Transcript expected = {"swd start", SwdErase(4096), SwdWrite(4096, 20)};
    for (std::uint32_t address = 0; address < 1064; address += 56) {
        expected.push_back(SwdWrite(address, 56));
    }
    EXPECT_EQ(Steps(*controller), expected);
    EXPECT_EQ(Flash(4096, 20), PatternBytes(20, 7));
}

TEST_F(SwdReflash, NoControllerMarksFiftySecondsThenGivesUp) {
    TempFile file(PatternBytes(100));

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out, std::string(kUpdatingRadio) + "\n" + kViaUsb + "\n" + kFiftyMarks +
                              "Failed to open USB device!\n");
    EXPECT_EQ(world.OpenAttemptsFor(kControllerAppProductId), 50u);
    EXPECT_EQ(world.Pauses(), std::vector<std::uint32_t>(50, 1000));
}

TEST_F(SwdReflash, LateControllerAndRetriedStartAndChipErase) {
    TempFile sd(PatternBytes(100, 1));
    TempFile app(PatternBytes(100, 2));
    PlugController().appearAtMs = 3500;
    probe->startFailures = 49;
    probe->chipEraseFailures = 9;

    const RunResult result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, 0);
    const Transcript lines = result.OutLines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(Transcript(lines.begin(), lines.begin() + 8),
              (Transcript{kUpdatingRadio, kViaUsb, "....", kStartingSwd, std::string(49, '.'),
                          "Radio full chip erase", ".........", "Programming SoftDevice"}));
    EXPECT_EQ(Flash(0, 100), PatternBytes(100, 1));
    EXPECT_EQ(Flash(98304, 100), PatternBytes(100, 2));
}

TEST_F(SwdReflash, SwdStartFailingFiftyTimes) {
    PlugController();
    probe->startFailures = 50;
    TempFile file(PatternBytes(100));

    const RunResult result = RunTool({"-s", file.Path()});

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              (Transcript{kUpdatingRadio, kViaUsb, "", kStartingSwd, kFiftyMarks, kNoSwdStart}));
    EXPECT_EQ(probe->starts, 50);
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(SwdReflash, ChipEraseFailingTenTimes) {
    PlugController();
    probe->chipEraseFailures = 10;
    TempFile sd(PatternBytes(100, 1));
    TempFile app(PatternBytes(100, 2));

    const RunResult result = RunTool({"-s", sd.Path(), "98304", app.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              Started({"Radio full chip erase", "..........ERROR: full chip failed"}));
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(probe->ends, 0);  // left in SWD mode
}

TEST_F(SwdReflash, WriteFailureNamesItsAddressAndStops) {
    PlugController();
    probe->failWriteAt = 98304 + 1100;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "0x18000", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(),
                              {".", "Error: Write failed at address99368", kAppFailed}));
    EXPECT_EQ(Writes(), 20u);
    // Neither the end of SWD mode nor the restart follows a failure.
    EXPECT_EQ(probe->ends, 0);
    EXPECT_EQ(probe->restarts, 0);
}

TEST_F(SwdReflash, SectorEraseFailureNamesThePage) {
    PlugController();
    probe->failEraseAt = 99328 + 5;
    TempFile file(PatternBytes(3000));

    const RunResult result = RunTool({"-s", "98304", file.Path()}, Edition::Compact);

    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(),
              ApplicationOnly(98304, file.Path(),
                              {".", "Error: Sector erase failed at address99328", kAppFailed}));
    EXPECT_EQ(Writes(), 18u);  // nothing written into the page that was not erased

    // At an unaligned base, the base's page cannot be erased safely when its
    // other bytes cannot be read first: nothing is erased or written. Replies
    // withheld, or only stale ones (the first read's reply, given to the
    // second for a hundred polls): the read fails either way.
    for (const bool stale : {false, true}) {
        SCOPED_TRACE(stale ? "stale replies" : "replies withheld");
        world.Reset();
        PlugController();
        (stale ? probe->staleReadReplies : probe->withheldReadReplies) = 1000;
        const RunResult unread = RunTool({"-s", "98400", file.Path()}, Edition::Compact);
        EXPECT_EQ(unread.status, -1);
        EXPECT_EQ(unread.OutLines(),
                  ApplicationOnly(98400, file.Path(),
                                  {"", "Error: Sector erase failed at address98304", kAppFailed}));
        EXPECT_EQ(controller->SentReports(sim::kSwdRead).size(), stale ? 2u : 1u);
        EXPECT_TRUE(Erased().empty());
        EXPECT_EQ(Writes(), 0u);
        EXPECT_EQ(Flash(98304, 1024), OldFlash(98304, 1024));
    }
}

// Found with the other checks, before anything reaches the controller, and
// before the full chip erase when a SoftDevice goes first.
TEST_F(SwdReflash, AFileRunningPastTheAddressSpaceIsNotWrappedOntoAddressZero) {
    TempFile file(PatternBytes(100));
    TempFile sd(PatternBytes(300, 3));
    for (const auto& args : {std::vector<std::string>{"-s", "0xFFFFFFF0", file.Path()},
                             std::vector<std::string>{"-s", sd.Path(), "0xFFFFFFF0", file.Path()}}) {
        ExpectRefusedBeforeTheController(args, "ERROR: Application at 4294967280 runs past the "
                                               "end of the address space, to 4294967380");
    }
}

TEST_F(SwdReflash, UnreadableFiles) {
    PlugController();
    RunResult result = RunTool({"-s", "/nonexistent/app.bin"});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.ErrLines(), Transcript{UnableToOpen("/nonexistent/app.bin")});
    // Checked before the controller is opened: it never enters SWD mode.
    EXPECT_EQ(result.OutLines(), (Transcript{kUpdatingRadio, kViaUsb, kAppFailed}));
    EXPECT_TRUE(controller->wire.empty());

    world.Reset();
    PlugController();
    TempFile app(PatternBytes(100));
    const TempDirectory directory;
    result = RunTool({"-s", directory.Path(), "98304", app.Path()}, Edition::Compact);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.ErrLines(), Transcript{UnableToOpen(directory.Path())});
    // Checked before the full chip erase, which would leave the radio empty.
    EXPECT_EQ(result.OutLines(), (Transcript{kUpdatingRadio, kViaUsb, kSdFailed}));
    EXPECT_EQ(probe->flash.chipErases, 0);
    EXPECT_EQ(Flash(0, 100), OldFlash(0, 100));

    // Linux opens this file, and its first read fails: that is no empty image.
    // The other reports size 0 but holds text: by its size, the page of
    // address 1000 would need no saving, and would be written unerased.
    for (const auto& args : {std::vector<std::string>{"-s", "/proc/self/mem"},
                             std::vector<std::string>{"-s", "1000", "/proc/version"}}) {
        world.Reset();
        PlugController();
        result = RunTool(args, args.size() == 2 ? Edition::Standard : Edition::Compact);
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.ErrLines(), Transcript{UnableToOpen(args.back())});
        EXPECT_EQ(result.OutLines(), (Transcript{kUpdatingRadio, kViaUsb, kAppFailed}));
        EXPECT_TRUE(controller->wire.empty());
        EXPECT_EQ(Flash(0, 2048), OldFlash(0, 2048));
    }
}

// The compact edition's address word must be a number as a whole: with the
// address forgotten, the SoftDevice's name would be address 0, and the
// application would go over the SoftDevice's pages. Refused with the other
// checks, before the controller is opened, in both forms.
TEST_F(SwdReflash, AnAddressWordThatIsNotANumberIsRefusedBeforeTheController) {
    TempFile sd(PatternBytes(300, 3), "_softdevice.bin");
    TempFile app(PatternBytes(100, 4), "_radio_app.bin");
    for (const std::string& word : {sd.Path(), std::string("1024kb"), std::string("09"),
                                    std::string("0x"), std::string("-98304"), std::string(" 5"),
                                    std::string("")}) {
        for (const auto& args : {std::vector<std::string>{"-s", word, app.Path()},
                                 std::vector<std::string>{"-s", sd.Path(), word, app.Path()}}) {
            SCOPED_TRACE(std::to_string(args.size()) + " words, address '" + word + "'");
            ExpectRefusedBeforeTheController(
                args, "ERROR: Application address " + word + " is not a number");
        }
    }
    // Every form the conversion reads keeps its value; too large saturates,
    // and the wrap check then refuses it.
    for (const auto& [word, address] :
         {std::pair{"0", 0u}, std::pair{"98304", 98304u}, std::pair{"0X18000", 98304u},
          std::pair{"0300000", 98304u}}) {
        world.Reset();
        PlugController();
        const RunResult result = RunTool({"-s", word, app.Path()}, Edition::Compact);
        EXPECT_EQ(result.status, 0) << word;
        EXPECT_EQ(Flash(address, 100), PatternBytes(100, 4)) << word;
    }
    world.Reset();
    PlugController();
    const RunResult tooHigh = RunTool({"-s", "99999999999", app.Path()}, Edition::Compact);
    ASSERT_FALSE(tooHigh.OutLines().empty()) << tooHigh.out;
    EXPECT_EQ(tooHigh.OutLines().back(),
              "ERROR: Application at 4294967295 runs past the end of the address space, to "
              "4294967395");
    EXPECT_TRUE(controller->wire.empty());
}

TEST_F(SwdReflash, EndOfSwdModeAndTheRestart) {
    PlugController();
    probe->refuseEnd = true;
    TempFile file(PatternBytes(100));
    RunResult result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.OutLines(), ApplicationOnly(0, file.Path(), {"Couldn't end SWD"}));
    EXPECT_EQ(probe->restarts, 0);

    // Unplugged once SWD mode was ended: the failed restart changes nothing.
    world.Reset();
    PlugController().unplugAfterReports = 5;  // start, erase, two writes, end
    result = RunTool({"-s", file.Path()});
    EXPECT_EQ(result.status, 0);
    ASSERT_FALSE(result.OutLines().empty()) << result.out;
    EXPECT_EQ(result.OutLines().back(), kReflashed);
    EXPECT_EQ(probe->ends, 1);
    EXPECT_EQ(probe->restarts, 0);
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
              (Transcript{kUpdatingRadio, kViaUsb,
                          "ERROR: Application at 256 overlaps the SoftDevice, which ends at 300"}));
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(controller->wire.empty());
    EXPECT_EQ(Flash(0, 1024), OldFlash(0, 1024));

    world.Reset();
    PlugController();
    EXPECT_EQ(RunTool({"-s", sd.Path(), "300", app.Path()}, Edition::Compact).status, 0);
    EXPECT_EQ(Flash(0, 300), PatternBytes(300, 3));
    EXPECT_EQ(Flash(300, 100), PatternBytes(100, 4));
}

}  // namespace
