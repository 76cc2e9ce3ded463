#include "app/ImageProfile.h"

#include "app/CommandLine.h"
#include "device/QuorlControllerRadioDevice.h"
#include "image/FirmwareUpdater.h"

std::unique_ptr<QuorlControllerDevice> MakeImageProfile(const std::string& path) {
    if (IsRadioImagePath(path)) {
        return std::make_unique<QuorlControllerRadioDevice>(kDongleAppProductId);
    }
    return std::make_unique<QuorlControllerDevice>(kControllerAppProductId);
}

int ComputeReleaseChecksum(const std::string& path, std::uint8_t* checksum) {
    const std::unique_ptr<QuorlControllerDevice> profile = MakeImageProfile(path);
    FirmwareUpdater updater(profile.get());
    return updater.ComputeImageChecksum(
        path, profile->GetImageStartOffset() + profile->GetImageHeaderSize(), checksum);
}
