// The image layout of a release file, chosen by its name, and the image
// checksum computed with it. The release tooling opens no device: an
// unopened device object only answers where the image starts, how large its
// header is and how the checksum treats its end, exactly as the update path
// would for the same file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/QuorlControllerDevice.h"

// A radio module image ("_module" in the name) or a controller image.
std::unique_ptr<QuorlControllerDevice> MakeImageProfile(const std::string& path);

// 0 with the 16-byte image checksum of the file under its profile, from
// offset start + header on; -1 after "Unable to open: " was reported.
int ComputeReleaseChecksum(const std::string& path, std::uint8_t* checksum);
