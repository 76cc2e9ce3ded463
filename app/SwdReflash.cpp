// The full radio reflash: the controller in its application carries SWD to
// the radio chip, which is erased and programmed from raw image files (an
// optional SoftDevice at address 0, then the application at its address).
#include "app/SwdReflash.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "image/ImageFile.h"
#include "platform/Platform.h"
#include "platform/console/TransferProgress.h"

namespace {

constexpr int kOpenAttempts = 50;
constexpr std::uint32_t kOpenRetryPauseMs = 1000;
constexpr int kSwdStartTries = 50;
constexpr int kChipEraseTries = 10;
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;
constexpr std::uint64_t kPage = kRadioFlashPageSize;

// The line that ends a programming run, or nothing while it goes on.
using Failure = std::optional<std::string>;

Failure EraseFailedAt(std::uint64_t page) {
    return "Error: Sector erase failed at address" + std::to_string(page);
}

Failure WriteFailedAt(std::uint64_t address) {
    return "Error: Write failed at address" + std::to_string(address);
}

// One progress mark, visible at once while the line stays open.
void PrintMark() { std::cout << '.' << std::flush; }

// Ends the line of marks; on a line without marks this prints an empty line.
void EndLine() { std::cout << std::endl; }

// Runs the operation up to the given number of tries, with a mark and the
// given pause after each failed one; true on the first success.
bool TryWithMarks(int tries, const std::function<bool()>& operation,
                  std::uint32_t pauseAfterFailureMs = 0) {
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (operation()) {
            return true;
        }
        PrintMark();
        if (pauseAfterFailureMs > 0) {
            platform::SleepMs(pauseAfterFailureMs);
        }
    }
    return false;
}

// An image placed at the address must end inside the radio's 32-bit address
// space: past its top the addresses would wrap to 0, over the flash's start.
bool FitsAddressSpace(const char* what, std::uint64_t address, std::uint64_t size) {
    if (address + size <= kAddressSpaceEnd) {
        return true;
    }
    std::cout << "ERROR: " << what << " at " << address
              << " runs past the end of the address space, to " << address + size << std::endl;
    return false;
}

// Every check that needs no device, so that a mistyped name or address leaves
// the radio's firmware as it is: the address is a number, both files stream
// whole (their bytes as many as their sizes say), and each image fits
// where it goes. After a full chip erase nothing is erased again, so an
// application that starts inside the SoftDevice would be programmed over it:
// flash bits only clear, and neither image would survive.
bool ImagesFit(const std::optional<std::string>& softDevicePath, std::uint32_t applicationAddress,
               const std::string& applicationPath, const std::optional<std::string>& addressWord) {
    // A forgotten address ("-s softdevice.bin radio_app.bin") would put the
    // application at 0, over the SoftDevice's pages.
    if (addressWord && !IsAddressNumber(*addressWord)) {
        std::cout << "ERROR: Application address " << *addressWord << " is not a number"
                  << std::endl;
        return false;
    }
    std::uint64_t softDeviceEnd = 0;
    if (softDevicePath) {
        const ImageFile softDevice = OpenCheckedImage(*softDevicePath);
        if (!softDevice) {
            std::cout << "ERROR: SoftDevice programming failed" << std::endl;
            return false;
        }
        softDeviceEnd = ImageBytesFrom(softDevice.get(), 0);
    }
    const ImageFile application = OpenCheckedImage(applicationPath);
    if (!application) {
        std::cout << "ERROR: Application programming failed" << std::endl;
        return false;
    }
    if (softDevicePath && applicationAddress < softDeviceEnd) {
        std::cout << "ERROR: Application at " << applicationAddress
                  << " overlaps the SoftDevice, which ends at " << softDeviceEnd << std::endl;
        return false;
    }
    return FitsAddressSpace("SoftDevice", 0, softDeviceEnd) &&
           FitsAddressSpace("Application", applicationAddress,
                            ImageBytesFrom(application.get(), 0));
}

// Programs bytes at an address in the pieces one write carries. Pieces that
// are all 0xFF are left out: erased flash already reads so.
Failure WriteKept(QuorlControllerRadioSWDDevice& device, std::uint64_t address,
                  const std::uint8_t* bytes, std::uint64_t count) {
    for (std::uint64_t at = 0; at < count; at += kSwdMaxWriteLength) {
        const int n = static_cast<int>(std::min<std::uint64_t>(kSwdMaxWriteLength, count - at));
        if (std::all_of(bytes + at, bytes + at + n, [](std::uint8_t b) { return b == 0xFF; })) {
            continue;
        }
        if (device.SwdWriteMemory(static_cast<std::uint32_t>(address + at), bytes + at, n) != 0) {
            return WriteFailedAt(address + at);
        }
    }
    return std::nullopt;
}

// An unaligned base shares its page with bytes that the file does not own:
// those below the base and, when the file ends inside the page, those after
// its end. Writing over them unerased would corrupt the file's bytes, and
// erasing would lose theirs: they are read, the page is erased, and they are
// written back, so that the file lands on erased flash and the rest of the
// page stays as it was. A read that fails leaves the page unerased.
Failure ErasePageKeepingOthers(QuorlControllerRadioSWDDevice& device, std::uint64_t base,
                               std::uint64_t fileEnd) {
    const std::uint64_t pageStart = base / kPage * kPage;
    const std::uint64_t keepFrom = std::min(fileEnd, pageStart + kPage);
    // Kept below the base, then from the file's end to the page's end.
    const std::array<std::pair<std::uint64_t, std::uint64_t>, 2> kept = {
        std::pair{pageStart, base}, std::pair{keepFrom, pageStart + kPage}};
    std::array<std::uint8_t, kRadioFlashPageSize> page{};
    for (const auto& [from, to] : kept) {
        for (std::uint64_t at = from; at < to; at += kSwdMaxReadLength) {
            const auto n = static_cast<std::uint8_t>(std::min<std::uint64_t>(kSwdMaxReadLength, to - at));
            if (device.SwdReadMemory(page.data() + (at - pageStart), static_cast<std::uint32_t>(at), n) != 0) {
                return EraseFailedAt(pageStart);
            }
        }
    }
    if (device.SwdEraseSector(static_cast<std::uint32_t>(pageStart)) != 0) {
        return EraseFailedAt(pageStart);
    }
    for (const auto& [from, to] : kept) {
        if (Failure failure = WriteKept(device, from, page.data() + (from - pageStart), to - from)) {
            return failure;
        }
    }
    return std::nullopt;
}

// Streams the file into the flash from the base address on, in 56-byte
// writes, with a mark for each page boundary the data reaches. Unless the
// flash was erased beforehand, each page is erased just before its first
// write.
Failure WriteFile(QuorlControllerRadioSWDDevice& device, std::FILE* file, std::uint64_t base,
                  bool preErased, TransferProgress& progress) {
    // A size that cannot be measured counts as reaching past the base's page.
    const std::uint64_t fileSize = ImageFileSize(file).value_or(kAddressSpaceEnd);
    std::uint64_t nextPageToErase = (base + kPage - 1) / kPage * kPage;
    if (!preErased && base % kPage != 0 && fileSize > 0) {
        if (Failure failure = ErasePageKeepingOthers(device, base, base + fileSize)) {
            return failure;
        }
    }
    int marks = 0;
    std::uint64_t written = 0;
    std::array<std::uint8_t, kSwdMaxWriteLength> pSendBuf{};
    for (;;) {
        const std::size_t n = std::fread(pSendBuf.data(), 1, pSendBuf.size(), file);
        if (n < pSendBuf.size() && std::ferror(file)) {
            return "Error: Read failed at offset" + std::to_string(written);
        }
        const std::uint64_t address = base + written;
        const std::uint32_t p = static_cast<std::uint32_t>((address + n) % kPage);
        if (p < pSendBuf.size()) {
            progress.Erase();
            PrintMark();
            progress.SetColumn(++marks);
        }
        // A file that has grown since it was checked still never wraps to 0.
        if (address + n > kAddressSpaceEnd) {
            return WriteFailedAt(address);
        }
        if (!preErased && n > 0) {
            // Erase every page this piece is the first to write into.
            const std::uint64_t lastPage = (address + n - 1) / kPage * kPage;
            for (; nextPageToErase <= lastPage; nextPageToErase += kPage) {
                if (device.SwdEraseSector(static_cast<std::uint32_t>(nextPageToErase)) != 0) {
                    return EraseFailedAt(nextPageToErase);
                }
            }
        }
        if (n > 0) {
            if (device.SwdWriteMemory(static_cast<std::uint32_t>(address), pSendBuf.data(),
                                      static_cast<int>(n)) != 0) {
                return WriteFailedAt(address);
            }
            written += n;
            progress.Advance(n);
        }
        if (n < pSendBuf.size()) {
            return std::nullopt;
        }
    }
}

}  // namespace

int ProgramFileOverSwd(QuorlControllerRadioSWDDevice& device, std::uint32_t base,
                       const std::string& path, bool preErased) {
    const ImageFile file = OpenImageFile(path);
    if (!file) {
        ReportUnableToOpen(path);
        return -1;
    }
    std::cout << "Transferring " << path << "..." << std::endl;
    // On a terminal, a bar stands to the right of the marks; it is cleared
    // before anything is printed, so marks and messages read as without it.
    TransferProgress progress(ImageBytesFrom(file.get(), 0));
    if (const Failure failure = WriteFile(device, file.get(), base, preErased, progress)) {
        progress.Erase();
        EndLine();
        std::cout << *failure << std::endl;
        return -1;
    }
    return 0;
}

int ReflashRadioOverSwd(const std::optional<std::string>& softDevicePath,
                        std::uint32_t applicationAddress, const std::string& applicationPath,
                        const std::optional<std::string>& addressWord) {
    std::cout << "Updating radio firmware" << std::endl;
    std::cout << "Attempting to update via USB..." << std::endl;
    if (!ImagesFit(softDevicePath, applicationAddress, applicationPath, addressWord)) {
        return -1;
    }
    QuorlControllerRadioSWDDevice wiredController(kControllerAppProductId);

    // The controller may still be enumerating: keep trying for about 50 s.
    if (!TryWithMarks(kOpenAttempts, [&] { return wiredController.Open(); }, kOpenRetryPauseMs)) {
        std::cout << "Failed to open USB device!" << std::endl;
        return -1;
    }
    EndLine();

    std::cout << "Starting SWD" << std::endl;
    if (!TryWithMarks(kSwdStartTries, [&] { return wiredController.StartSwd() == 0; })) {
        EndLine();
        std::cout << "Error starting SWD" << std::endl;
        return -1;
    }
    EndLine();

    bool chipErased = false;
    if (softDevicePath) {
        std::cout << "Radio full chip erase" << std::endl;
        if (!TryWithMarks(kChipEraseTries, [&] { return wiredController.SwdEraseChip() == 0; })) {
            std::cout << "ERROR: full chip failed" << std::endl;
            return -1;
        }
        chipErased = true;
        EndLine();
        std::cout << "Programming SoftDevice" << std::endl;
        if (ProgramFileOverSwd(wiredController, 0, *softDevicePath, chipErased) != 0) {
            std::cout << "ERROR: SoftDevice programming failed" << std::endl;
            return -1;
        }
    }

    EndLine();
    std::cout << "Programming Application at " << applicationAddress << std::endl;
    if (ProgramFileOverSwd(wiredController, applicationAddress, applicationPath, chipErased) != 0) {
        std::cout << "ERROR: Application programming failed" << std::endl;
        return -1;
    }

    if (wiredController.EndSwd() != 0) {
        std::cout << "Couldn't end SWD" << std::endl;
        return -1;
    }
    EndLine();
    std::cout << "Radio Update Complete.  Rebooting" << std::endl;
    // The radio is programmed whatever the restart does.
    wiredController.RestartController();
    return 0;
}
