#include "image/FirmwareUpdater.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "image/ChecksumText.h"
#include "image/ImageFile.h"
#include "image/Lfsr128.h"
#include "platform/console/TransferProgress.h"
#include "platform/files/Files.h"
#include "platform/Platform.h"

namespace {

constexpr std::size_t kBlockSize = 16;
// The checksum streams the file through this window; it is never held whole.
constexpr std::size_t kChecksumReadSize = 256 * 1024;
constexpr std::size_t kSendBufferSize = 50;
constexpr std::uint32_t kVerifyPauseMs = 100;

void AbsorbPadded(Lfsr128& lfsr, const std::uint8_t* data, std::size_t n) {
    std::array<std::uint8_t, kBlockSize> block;
    block.fill(0xFF);
    std::copy(data, data + n, block.begin());
    lfsr.Absorb(block.data());
}

}  // namespace

int FirmwareUpdater::ComputeImageChecksum(const std::string& path, std::int32_t offset,
                                          std::uint8_t* out) {
    ImageFile file = OpenImageFile(path);
    if (!file) {
        ReportUnableToOpen(path);
        return -1;
    }
    Lfsr128 lfsr;
    lfsr.Reset();
    // Wide enough for images past 2 GiB.
    std::int64_t processed = 0;
    // A file that cannot be read from the offset would give the checksum of
    // other bytes than the device receives.
    if (!SkipToOffset(file.get(), offset)) {
        ReportUnableToOpen(path);
        return -1;
    }
    // The file is read once, front to back: let the system read ahead further.
    platform::AdviseSequentialReading(file.get());

    std::vector<std::uint8_t> window(kChecksumReadSize);
    std::size_t pending = 0;  // bytes of a block not yet whole
    for (;;) {
        const std::size_t got =
            std::fread(window.data() + pending, 1, window.size() - pending, file.get());
        const std::size_t available = pending + got;
        const std::size_t whole = available - available % kBlockSize;
        lfsr.AbsorbBlocks(window.data(), whole / kBlockSize);
        processed += static_cast<std::int64_t>(whole);
        pending = available - whole;
        if (std::ferror(file.get())) {
            // A checksum of what came before a read error would describe a
            // cut image, and the transfer would send that same cut image:
            // the device would verify it and take it.
            ReportUnableToOpen(path);
            return -1;
        }
        if (got == 0) {
            break;
        }
        std::memmove(window.data(), window.data() + whole, pending);
    }
    // The last partial block is filled with 0xFF.
    if (pending > 0) {
        AbsorbPadded(lfsr, window.data(), pending);
        processed += kBlockSize;
    }
    // A positive pad size adds whole 0xFF blocks until that many bytes were absorbed.
    for (;;) {
        const int padSize = device->GetChecksumPadSize();
        if (padSize == 0 || processed >= padSize) {
            break;
        }
        AbsorbPadded(lfsr, nullptr, 0);
        processed += kBlockSize;
    }
    lfsr.GetValue(out);
    return 0;
}

int FirmwareUpdater::UpdateFirmware(const std::string& path) {
    std::array<std::uint8_t, kImageChecksumLength> LSFRResult{};
    if (ComputeImageChecksum(path, device->GetImageStartOffset() + device->GetImageHeaderSize(),
                             LSFRResult.data()) < 0) {
        return -1;
    }
    std::cout << "Image checksum: " << ChecksumDigits(LSFRResult.data()) << std::endl;

    ImageFile file = OpenImageFile(path);
    if (!file || !SkipToOffset(file.get(), device->GetImageStartOffset())) {
        ReportUnableToOpen(path);
        return -1;
    }

    std::cout << "Starting firmware update..." << std::endl;
    device->StartFirmwareUpdate();
    std::uint16_t response = 0;
    // A start acknowledgement that cannot be read does not stop the update;
    // the final acknowledgement decides.
    if (device->WaitForAck(response) == 0 && response != 0) {
        return -1;
    }

    std::cout << "Transfering data..." << std::endl;
    std::array<std::uint8_t, kSendBufferSize> pSendBuf{};
    TransferProgress progress(ImageBytesFrom(file.get(), device->GetImageStartOffset()));
    for (;;) {
        const int chunk = device->GetTransferChunkSize();
        const std::size_t wanted =
            std::min<std::size_t>(chunk > 0 ? static_cast<std::size_t>(chunk) : 0, pSendBuf.size());
        const std::size_t got = std::fread(pSendBuf.data(), 1, wanted, file.get());
        if (std::ferror(file.get())) {
            // The image cannot be sent whole: no checksum goes out, and the
            // device stays in its bootloader.
            progress.Erase();
            ReportUnableToOpen(path);
            return -1;
        }
        if (got > 0) {
            // A piece the device never took leaves a hole in its image. The
            // device's own checksum does not cover the image's header, so a
            // hole there would pass its verification: stop here instead.
            if (device->SendFirmwareData(pSendBuf.data(), static_cast<int>(got)) != 0) {
                return -1;
            }
            progress.Advance(got);
        }
        if (got == 0 || static_cast<int>(got) < device->GetTransferChunkSize()) {
            break;
        }
    }

    progress.Erase();
    std::cout << "Verifying..." << std::endl;
    // A checksum the device never received cannot have been verified: the
    // acknowledgement it still shows is an older one, the start's.
    if (device->SendImageChecksum(LSFRResult.data()) != 0) {
        return -1;
    }
    file.reset();
    platform::SleepMs(kVerifyPauseMs);
    if (device->WaitForAck(response) != 0 || response != 0) {
        return -1;
    }
    device->ResetFromBootloader();
    return 0;
}
