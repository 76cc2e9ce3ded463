#include "testsupport/ControllerImage.h"

#include "sim/ReferenceChecksum.h"

namespace {

constexpr std::uint32_t kStartRegionSeed = 0x57A27;

}  // namespace

ControllerImage::ControllerImage(Bytes image)
    : image(std::move(image)), file(PatternBytes(kStart, kStartRegionSeed)) {
    file.insert(file.end(), this->image.begin(), this->image.end());
}

ControllerImage ControllerImage::Pattern(std::size_t size, std::uint32_t seed) {
    return ControllerImage(PatternBytes(size, seed));
}

ControllerImage ControllerImage::Checksumming(const Bytes& checksummed) {
    Bytes image = PatternBytes(kHeader, kStartRegionSeed + 1);
    image.insert(image.end(), checksummed.begin(), checksummed.end());
    return ControllerImage(std::move(image));
}

Checksum128 ControllerImage::Checksum() const {
    return sim::ReferenceChecksum(Tail(image, kHeader));
}
