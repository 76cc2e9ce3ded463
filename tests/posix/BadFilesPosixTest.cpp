// Bad files that only a POSIX system makes: a file that opens but whose
// reads fail (Linux's memory file of a process), one that turns into such a
// file between the checksum and the transfer, an unreadable file (another
// user's permissions), and a pipe given as a dongle image.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "device/QuorlControllerDevice.h"
#include "sim/ControllerModel.h"
#include "sim/DongleBootloaderModel.h"
#include "testsupport/RunTool.h"
#include "testsupport/TempFiles.h"
#include "testsupport/ToolLines.h"
#include "testsupport/WireSteps.h"
#include "testsupport/posix/EffectiveUser.h"
#include "testsupport/posix/NamedPipe.h"
#include "tests/BadFiles.h"

namespace {

using badfiles::BadFiles;
using badfiles::FileReader;
using sim::ControllerModel;

// Bad files as links, named for each reader, to a file of the system;
// removed again at the end.
class LinksTo {
public:
    explicit LinksTo(std::string target) : target(std::move(target)) {}
    ~LinksTo() {
        for (const std::string& path : made) {
            std::filesystem::remove(path);
        }
    }
    LinksTo(const LinksTo&) = delete;
    LinksTo& operator=(const LinksTo&) = delete;

    std::string Make(const std::string& name) {
        const std::string path = (std::filesystem::temp_directory_path() / name).string();
        std::filesystem::remove(path);
        std::filesystem::create_symlink(target, path);
        made.push_back(path);
        return path;
    }

private:
    std::string target;
    std::vector<std::string> made;
};

// A file that opens but whose first read fails (Linux's memory file of a
// process, at addresses nothing is mapped at): no empty image, no checksum of
// nothing, no update reported as done.
TEST_F(BadFiles, FileWhoseReadsFailIsNotAnEmptyImage) {
    LinksTo links("/proc/self/mem");
    ExpectEveryReaderRefuses([&](const std::string& name) { return links.Make(name); }, true);
}

// A system file that reports more bytes than it holds: sysfs gives its
// attributes the size of a page (4096) and a line of text.
std::optional<std::string> FileShorterThanItsSize() {
    for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled",
                             "/sys/devices/system/cpu/online", "/sys/kernel/uevent_seqnum"}) {
        std::error_code error;
        const std::uintmax_t reported = std::filesystem::file_size(path, error);
        std::ifstream file(path, std::ios::binary);
        const std::string held{std::istreambuf_iterator<char>(file), {}};
        if (!error && !held.empty() && held.size() < reported) {
            return path;
        }
    }
    return std::nullopt;
}

// A file whose bytes are not as many as the size it reports: procfs reports
// 0 and holds text, sysfs (and some FUSE file systems) report a page and hold
// less. Every update plans by an image's size (pages to erase or keep, the
// dongle's pages), so both are refused before any device is touched.
TEST_F(BadFiles, FileWhoseBytesDifferFromItsSizeIsRefused) {
    ASSERT_EQ(std::filesystem::file_size("/proc/version"), 0u);
    {
        SCOPED_TRACE("more bytes than its size: /proc/version");
        LinksTo links("/proc/version");
        ExpectEveryReaderRefuses([&](const std::string& name) { return links.Make(name); }, false,
                                 true);
    }
    const std::optional<std::string> shorter = FileShorterThanItsSize();
    if (!shorter) {
        GTEST_SKIP() << "no sysfs file here reports more bytes than it holds";
    }
    SCOPED_TRACE("fewer bytes than its size: " + *shorter);
    LinksTo links(*shorter);
    ExpectEveryReaderRefuses([&](const std::string& name) { return links.Make(name); }, false,
                             true);
}

// The image reads well for its checksum, then fails to read for the
// transfer: the update stops there, no checksum goes out for the device to
// verify, and the controller stays in its bootloader.
TEST_F(BadFiles, ImageThatFailsToReadDuringTheTransferSendsNoChecksum) {
    auto& controller = world.Add<ControllerModel>(ControllerModel::Mode::Bootloader);
    const std::string link = TempPath("_swapped.bin");
    std::filesystem::remove(link);
    std::filesystem::create_symlink(goodImage.Path(), link);
    // The checksum asks for the pad size once the image's data has been read:
    // the name then starts to lead to a file whose reads fail.
    struct SwapsTheFileAfterTheChecksum : QuorlControllerDevice {
        explicit SwapsTheFileAfterTheChecksum(std::string link)
            : QuorlControllerDevice(kControllerBootloaderProductId), link(std::move(link)) {}
        int GetChecksumPadSize() override {
            std::filesystem::remove(link);
            std::filesystem::create_symlink("/proc/self/mem", link);
            return QuorlControllerDevice::GetChecksumPadSize();
        }
        std::string link;
    } device(link);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = UpdateViaBootloader(device, link, false);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    std::filesystem::remove(link);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(err, UnableToOpen(link) + "\n");
    ASSERT_FALSE(Lines(out).empty());
    EXPECT_EQ(Lines(out).back(), kUpdateError);
    EXPECT_EQ(Steps(controller), Transcript{"start"});
    EXPECT_EQ(controller.resetsFromBootloader, 0);
}

TEST_F(BadFiles, UnreadableFileCannotBeOpened) {
    std::vector<std::unique_ptr<TempFile>> made;
    const auto makeUnreadable = [&](const std::string& name) {
        made.push_back(std::make_unique<TempFile>(PatternBytes(9000, 15), name));
        std::filesystem::permissions(made.back()->Path(), std::filesystem::perms::none);
        return made.back()->Path();
    };
    // The files are made before the effective user changes.
    std::vector<std::string> paths;
    for (const FileReader& reader : Readers()) {
        paths.push_back(makeUnreadable(reader.marker));
    }
    PermissionsEnforced enforced;
    if (!enforced.Usable()) {
        GTEST_SKIP() << "running as root without the right to change the effective user: "
                        "file permissions deny root nothing";
    }
    if (!ReadingIsDenied(paths.front())) {
        GTEST_SKIP() << "this file system does not deny reads of a file with mode 000";
    }
    std::size_t next = 0;
    ExpectEveryReaderRefuses([&](const std::string&) { return paths[next++]; });
}

// A pipe has no size before it is read: the dongle, which must know an
// image's size before it writes, names that reason after its version line.
TEST_F(BadFiles, DonglePipeFailsAfterTheVersionLineWithItsReason) {
    auto& dongle = world.Add<sim::DongleBootloaderModel>();
    const TempDirectory temp("_dongle");
    const NamedPipe pipe(temp.Path() + "/pipe_dongle.bin");
    ASSERT_TRUE(pipe.Made());
    const RunResult run = RunTool({pipe.Path()});
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.OutLines(), Transcript{"Dongle bootloader version 1.3"});
    EXPECT_EQ(run.ErrLines(),
              (Transcript{"Dongle image " + pipe.Path() +
                              " is not a regular file: its size cannot be measured before it is "
                              "written.",
                          kDongleFailed}));
    // Nothing after the version query.
    EXPECT_EQ(Steps(dongle).back(), "version");
}

}  // namespace
