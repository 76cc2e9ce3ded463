// The controller's radio chip as its update commands reach it, riding on the
// reports of its host: the controller's application (0x1102) and bootloader
// (0x1002), and the dongle's application (0x1142) over its wireless link.
// Begin (0x97) clears the received image, data (0x98) appends up to 48 bytes
// without any acknowledgement, and the checksum (0x99) makes the radio check
// what it received with its own computation; the host then acknowledges
// once, with status 0 when it matched.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "sim/CommandExtension.h"
#include "sim/ReferenceChecksum.h"

namespace sim {

class RadioModel : public CommandExtension {
public:
    bool OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                   bool& accepted) override;

    // Faults. A host whose firmware does not carry the radio commands
    // refuses them (a stalled transfer), per controller mode.
    bool takenByApplication = true;
    bool takenByBootloader = true;
    std::optional<std::uint16_t> verifyStatus;  // forced verification status

    // What the radio holds. While the world keeps memory bounded, received
    // and firmware stay empty: the image is checked as it arrives.
    Bytes received;  // radio image data of the update in progress
    Bytes firmware;  // the radio image installed by the last verified update
    std::uint64_t receivedBytes = 0;
    ReferenceChecksummer receivedChecksum;  // of the data received so far
    std::optional<std::array<std::uint8_t, 16>> checksumReceived;
    int updatesStarted = 0;
    int updatesInstalled = 0;
};

}  // namespace sim
