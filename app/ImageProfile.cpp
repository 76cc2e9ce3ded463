#include "app/ImageProfile.h"

#include "app/CommandLine.h"
#include "image/FirmwareUpdater.h"

namespace {

// The radio chip's image layout: the whole file is sent in 48-byte pieces
// and checksummed from its first byte, with no padding blocks.
class RadioImageProfile : public QuorlControllerDevice {
public:
    RadioImageProfile() : QuorlControllerDevice(kDongleAppProductId) {}
    int GetTransferChunkSize() override { return 48; }
    int GetImageStartOffset() override { return 0; }
    int GetChecksumPadSize() override { return -1; }
    int GetImageHeaderSize() override { return 0; }
};

}  // namespace

std::unique_ptr<QuorlControllerDevice> MakeImageProfile(const std::string& path) {
    if (IsRadioImagePath(path)) {
        // Stand-in until the radio device class joins device/: construct
        // QuorlControllerRadioDevice(kDongleAppProductId) here instead.
        return std::make_unique<RadioImageProfile>();
    }
    return std::make_unique<QuorlControllerDevice>(kControllerAppProductId);
}

int ComputeReleaseChecksum(const std::string& path, std::uint8_t* checksum) {
    const std::unique_ptr<QuorlControllerDevice> profile = MakeImageProfile(path);
    FirmwareUpdater updater(profile.get());
    return updater.ComputeImageChecksum(
        path, profile->GetImageStartOffset() + profile->GetImageHeaderSize(), checksum);
}
