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

// An image the dongle's page addressing cannot hold is refused with its
// reason. A file that cannot be opened or measured is left to the upgrade,
// which fails on it like on a missing file.
bool ImageTooLargeForDongle(const std::string& path) {
    const ImageFile image = OpenImageFile(path);
    const std::int64_t size = image ? DongleImageSize(image.get()) : -1;
    if (size <= kDongleMaxImageSize) {
        return false;
    }
    std::cerr << "Dongle image is " << std::dec << size << " bytes; the dongle holds at most "
              << kDongleMaxImageSize << " bytes (" << kDonglePageCount << " pages of "
              << kDonglePageSize << " bytes)." << std::endl;
    return true;
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
    if (ImageTooLargeForDongle(path) || !dongle.UpgradeFromFile(path)) {
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
