// The progress bar: drawn on a terminal only, beside the tool's own lines and
// marks, which read exactly as without it; piped output never changes.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/console/TransferProgress.h"

#include "sim/ControllerModel.h"
#include "testsupport/Console.h"
#include "testsupport/ControllerImage.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "tests/SimTest.h"

namespace {

class ConsoleProgress : public SimTest {
protected:
    const ControllerImage image = ControllerImage::Pattern(20000);
};

TEST_F(ConsoleProgress, NothingIsDrawnWhenStandardErrorIsNotATerminal) {
    world.stderrIsTerminal = false;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(ConsoleProgress, BarReachesTheWholeImageAndIsErasedBeforeTheNextLine) {
    world.stderrIsTerminal = true;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult run = RunTool({file.Path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find(" 100%  20000/20000 bytes"), std::string::npos) << run.err;
    // The last thing drawn is cleared again.
    EXPECT_EQ(run.err.substr(run.err.size() - 3), "\033[K");
    EXPECT_EQ(WithoutProgressBar(run.err), "");
    // Four hundred data reports, drawn at most once per 250 ms of the run
    // besides the first drawing and the last (the whole image).
    std::size_t draws = 0;
    for (std::size_t at = 0; (at = run.err.find("\0337", at)) != std::string::npos; ++at) {
        ++draws;
    }
    EXPECT_GE(draws, 2u);
    EXPECT_LE(draws, 2 + world.NowMs() / 250) << "in " << world.NowMs() << " ms";
    // Standard output is the same as on a pipe.
    ASSERT_GE(run.OutLines().size(), 6u) << run.out;
    EXPECT_EQ(run.OutLines()[4], kTransferring);
    EXPECT_EQ(run.OutLines()[5], kVerifying);
}

// Fed a byte every millisecond, the bar is drawn at once, then each time
// 250 ms have passed since the last drawing, and once more for the whole
// image, however soon after.
TEST_F(ConsoleProgress, RedrawnAQuarterSecondApartAndAtTheEnd) {
    world.stderrIsTerminal = true;
    std::stringbuf out;
    std::stringbuf err;
    std::vector<std::uint64_t> drawnAtMs;
    {
        const RedirectedConsole console(&out, &err);
        TransferProgress progress(1000);
        for (int byte = 0; byte < 1000; ++byte) {
            const std::size_t before = err.str().size();
            progress.Advance(1);
            if (err.str().size() != before) {
                drawnAtMs.push_back(world.NowMs());
            }
            world.Advance(1);
        }
    }
    EXPECT_EQ(drawnAtMs, (std::vector<std::uint64_t>{0, 250, 500, 750, 999}));
}

TEST_F(ConsoleProgress, BarFitsANarrowTerminalOrStaysAway) {
    world.stderrIsTerminal = true;
    world.terminalColumns = 30;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    TempFile file(image.file);
    const RunResult narrow = RunTool({file.Path()});
    EXPECT_EQ(narrow.err.find(" ["), std::string::npos);  // counts only, no bar
    EXPECT_NE(narrow.err.find("100%"), std::string::npos);

    world.Reset();
    world.stderrIsTerminal = true;
    world.terminalColumns = 10;
    world.Add<sim::ControllerModel>(sim::ControllerModel::Mode::Bootloader);
    EXPECT_EQ(RunTool({file.Path()}).err, "");
}

}  // namespace
