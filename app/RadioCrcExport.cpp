// "-c" / "-C": the image checksum of a firmware file, as 32 digits or as a
// preprocessor line that firmware sources include.
#include <array>
#include <iostream>

#include "app/Commands.h"
#include "app/ImageProfile.h"
#include "app/ReleaseOutput.h"
#include "image/ChecksumText.h"

int ExportRadioCrc(const std::string& path, bool headerLine) {
    std::array<std::uint8_t, kImageChecksumLength> checksum{};
    if (ComputeReleaseChecksum(path, checksum.data()) != 0) {
        return 1;
    }
    std::string line = ChecksumDigits(checksum.data());
    if (headerLine) {
        // The name stays RADIO_CRC whatever kind of image the file holds.
        line = "#define RADIO_CRC ";
        for (std::size_t i = 0; i < checksum.size(); ++i) {
            line += (i == 0 ? "0x" : ", 0x") + ChecksumByteDigits(checksum[i]);
        }
    }
    std::cout << line << std::endl;
    return StandardOutputWritten() ? 0 : 1;
}
