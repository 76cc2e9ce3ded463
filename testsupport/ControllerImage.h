// A controller firmware file as the update reads it: a start region that is
// never sent, then the image that the bootloader receives and installs, whose
// first bytes (its header) the image checksum skips. The Tivane's files have
// the same layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "testsupport/Bytes.h"

struct ControllerImage {
    static constexpr std::size_t kStart = 8192;  // bytes of the file before the image
    static constexpr std::size_t kHeader = 48;   // bytes of the image before the checksummed part

    // The file around this image; its start region holds pattern bytes.
    explicit ControllerImage(Bytes image);
    // An image of `size` pattern bytes.
    static ControllerImage Pattern(std::size_t size, std::uint32_t seed = 1);
    // An image whose header is followed by exactly these bytes.
    static ControllerImage Checksumming(const Bytes& checksummed);

    // The image checksum, as the bootloader computes it over what it received.
    Checksum128 Checksum() const;

    Bytes image;  // what the bootloader receives and installs
    Bytes file;   // the whole file: the start region, then the image
};
