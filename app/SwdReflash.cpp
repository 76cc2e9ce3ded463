// The full radio reflash: the controller in its application carries SWD to
// the radio chip, which is erased and programmed from raw image files (an
// optional SoftDevice at address 0, then the application at its address).
#include "app/SwdReflash.h"

#include <array>
#include <cstdio>
#include <functional>
#include <iostream>

#include "app/Commands.h"
#include "device/QuorlControllerRadioSWDDevice.h"
#include "image/ImageFile.h"
#include "image/TransferProgress.h"
#include "platform/Platform.h"

namespace {

constexpr int kOpenAttempts = 50;
constexpr std::uint32_t kOpenRetryPauseMs = 1000;
constexpr int kSwdStartTries = 50;
constexpr int kChipEraseTries = 10;
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;

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

// After a chip erase nothing is erased again, so an application that starts
// inside the SoftDevice would be programmed over it: flash bits only clear,
// and neither image would survive. A SoftDevice that cannot be opened is left
// to its programming step, which reports it.
bool ApplicationOverlapsSoftDevice(const std::string& softDevicePath,
                                   std::uint32_t applicationAddress) {
    const ImageFile softDevice = OpenImageFile(softDevicePath);
    if (!softDevice) {
        return false;
    }
    const std::uint64_t softDeviceEnd = ImageBytesFrom(softDevice.get(), 0);
    if (applicationAddress >= softDeviceEnd) {
        return false;
    }
    std::cout << "ERROR: Application at " << applicationAddress
              << " overlaps the SoftDevice, which ends at " << softDeviceEnd << std::endl;
    return true;
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
    int marks = 0;

    constexpr std::uint64_t kPage = kRadioFlashPageSize;
    // The first page that begins inside the file; an unaligned base's page also
    // holds bytes before the file and is written without an erase.
    std::uint64_t nextPageToErase = (base + kPage - 1) / kPage * kPage;
    std::uint64_t written = 0;
    std::array<std::uint8_t, kSwdMaxWriteLength> pSendBuf{};
    for (;;) {
        const std::size_t n = std::fread(pSendBuf.data(), 1, pSendBuf.size(), file.get());
        if (n < pSendBuf.size() && std::ferror(file.get())) {
            progress.Erase();
            EndLine();
            std::cout << "Error: Read failed at offset" << written << std::endl;
            return -1;
        }
        const std::uint64_t address = base + written;
        const std::uint32_t p = static_cast<std::uint32_t>(address + n) % kRadioFlashPageSize;
        if (p < pSendBuf.size()) {
            progress.Erase();
            PrintMark();
            progress.SetColumn(++marks);
        }
        if (address + n > kAddressSpaceEnd) {
            // Past the top of the radio's address space the address would
            // wrap to 0 and overwrite the start of the flash.
            progress.Erase();
            EndLine();
            std::cout << "Error: Write failed at address" << address << std::endl;
            return -1;
        }
        if (!preErased && n > 0) {
            // Erase every page this piece is the first to write into.
            const std::uint64_t lastPage = (address + n - 1) / kPage * kPage;
            for (; nextPageToErase <= lastPage; nextPageToErase += kPage) {
                if (device.SwdEraseSector(static_cast<std::uint32_t>(nextPageToErase)) != 0) {
                    progress.Erase();
                    EndLine();
                    std::cout << "Error: Sector erase failed at address" << nextPageToErase
                              << std::endl;
                    return -1;
                }
            }
        }
        if (n > 0) {
            if (device.SwdWriteMemory(static_cast<std::uint32_t>(address), pSendBuf.data(),
                                      static_cast<int>(n)) != 0) {
                progress.Erase();
                EndLine();
                std::cout << "Error: Write failed at address" << address << std::endl;
                return -1;
            }
            written += n;
            progress.Advance(n);
        }
        if (n < pSendBuf.size()) {
            return 0;
        }
    }
}

int ReflashRadioOverSwd(const std::optional<std::string>& softDevicePath,
                        std::uint32_t applicationAddress, const std::string& applicationPath) {
    std::cout << "Updating radio firmware" << std::endl;
    std::cout << "Attempting to update via USB..." << std::endl;
    // The full chip erase destroys the radio's firmware: both files must be
    // there before it, or a mistyped name would leave the radio empty.
    if (softDevicePath) {
        for (const auto& [path, failure] :
             {std::pair{*softDevicePath, "ERROR: SoftDevice programming failed"},
              std::pair{applicationPath, "ERROR: Application programming failed"}}) {
            const ImageFile file = OpenImageFile(path);
            if (!file || !ReadsToTheEnd(file.get())) {
                ReportUnableToOpen(path);
                std::cout << failure << std::endl;
                return -1;
            }
        }
        if (ApplicationOverlapsSoftDevice(*softDevicePath, applicationAddress)) {
            return -1;
        }
    }
    QuorlControllerRadioSWDDevice wiredController(kControllerAppProductId);

    // The controller may still be enumerating: keep trying for about 50 s.
    if (!TryWithMarks(kOpenAttempts, [&] { return wiredController.Open(); }, kOpenRetryPauseMs)) {
        std::cout << "Failed to open USB device!" << std::endl;
        return -1;
    }
    EndLine();

    std::cout << "Starting SWD" << std::endl;
    if (!TryWithMarks(kSwdStartTries, [&] { return wiredController.StartFirmwareUpdate() == 0; })) {
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

    if (wiredController.SendImageChecksum(nullptr) != 0) {
        std::cout << "Couldn't end SWD" << std::endl;
        return -1;
    }
    EndLine();
    std::cout << "Radio Update Complete.  Rebooting" << std::endl;
    // The radio is programmed whatever the restart does.
    wiredController.ResetFromBootloader();
    return 0;
}
