// The dongle upgrade through the dongle's own bootloader: open it, show its
// version, write the image page by page with read-back, then reset it.
#include <iostream>

#include "app/Commands.h"
#include "device/QuorlControllerDevice.h"
#include "device/QuorlDongleDevice.h"
#include "image/ImageFile.h"
#include "platform/Platform.h"

namespace {

constexpr int kOpenRetryPauseMs = 500;

// The image must be known whole before the boot guard goes over page 0: it
// opens, has a size that the dongle's page numbers can address, and reads to
// its end. Null after the reason has been written.
ImageFile OpenDongleImage(const std::string& path, std::uint64_t& size) {
    ImageFile image = OpenImageFile(path);
    if (!image) {
        ReportUnableToOpen(path);
        return nullptr;
    }
    const std::optional<std::uint64_t> measured = ImageFileSize(image.get());
    if (!measured) {
        std::cerr << "Dongle image " << path
                  << " is not a regular file: its size cannot be measured before it is written."
                  << std::endl;
        return nullptr;
    }
    if (*measured > kDongleMaxImageSize) {
        std::cerr << "Dongle image is " << std::dec << *measured
                  << " bytes; the dongle holds at most " << kDongleMaxImageSize << " bytes ("
                  << kDonglePageCount << " pages of " << kDonglePageSize << " bytes)." << std::endl;
        return nullptr;
    }
    if (!ReadsToTheEnd(image.get())) {
        ReportUnableToOpen(path);
        return nullptr;
    }
    size = *measured;
    return image;
}

int UpgradeOpenDongle(QuorlDongleDevice& dongle, const std::string& path) {
    std::uint8_t ucMajor = 0;
    std::uint8_t ucMinor = 0;
    if (!dongle.GetBootloaderVersion(ucMajor, ucMinor)) {
        std::cerr << "Unable to determine bootloader version." << std::endl;
        return -1;
    }
    std::cout << "Dongle bootloader version " << std::dec << unsigned{ucMajor} << "."
              << unsigned{ucMinor} << std::endl;
    std::uint64_t size = 0;
    const ImageFile firmware = OpenDongleImage(path, size);
    if (!firmware || !dongle.UpgradeFromFile(firmware.get(), size)) {
        std::cerr << "Dongle upgrade failed." << std::endl;
        return -1;
    }
    std::cout << "Dongle upgraded." << std::endl;
    dongle.ResetDongle();
    return 0;
}

}  // namespace

int UpgradeDongle(const std::string& path, int openWaitBudgetMs) {
    for (;;) {
        QuorlDongleDevice dongle(kDongleBootloaderProductId);
        if (dongle.Open()) {
            return UpgradeOpenDongle(dongle, path);
        }
        if (openWaitBudgetMs > 0) {
            platform::SleepMs(kOpenRetryPauseMs);
            openWaitBudgetMs -= kOpenRetryPauseMs;
        }
        if (openWaitBudgetMs < 1) {
            std::cout << "Error opening device for bootloader upgrade." << std::endl;
            return -1;
        }
    }
}
