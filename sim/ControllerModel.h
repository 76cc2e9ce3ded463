// The wired controller: its application (0x1102), which takes the reboot
// magic and EMC records, and its USB bootloader (0x1002), which takes an
// image (start, data, checksum), checks the checksum with its own
// computation, acknowledges with 0x94 reports, and resets to the application.
// The devices that speak the same protocol (the dongle's application, the
// Tivane's bootloader) are built on it with their own identities and parts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/CommandExtension.h"
#include "sim/RadioModel.h"
#include "sim/ReferenceChecksum.h"
#include "sim/SimWorld.h"
#include "sim/SwdProbeModel.h"
#include "sim/WireNames.h"

namespace sim {

// The acknowledgement side of the controller's protocol: after a command that
// needs one, busy (status 2) for some polls, then the final status.
class AckChannel {
public:
    void Arm(std::uint16_t finalStatus, int busyPolls);
    // A restarted device owes no acknowledgement; the fault counters below
    // go on counting replies across the restart.
    void Disarm() { armed = false; }
    Bytes NextReport();

    int failReads = 0;     // the next N acknowledgement reads are refused
    int shortReplies = 0;  // the next N replies carry only 4 bytes
    int malformed = 0;     // the next N replies do not start with 0x94
    int longReplies = 0;   // the next N replies carry 80 bytes, more than a report holds

private:
    std::uint16_t status = 0;
    int busyLeft = 0;
    bool armed = false;
};

class ControllerModel : public SimDevice {
public:
    enum class Mode { Application, Bootloader };

    // The wired controller, with its radio and its SWD probe.
    explicit ControllerModel(Mode mode = Mode::Application);

    bool OnSetFeature(const Bytes& data) override;
    std::optional<Bytes> OnGetFeature() override;
    const HidDescriptor& Descriptor() const override {
        return mode == Mode::Bootloader ? bootloaderDescriptor : descriptor;
    }

    Mode mode;
    std::uint16_t appProductId;
    std::uint16_t bootloaderProductId;
    // What the bootloader enumerates with; descriptor is the application's.
    HidDescriptor bootloaderDescriptor;
    // The scenario named the bootloader's serial number itself, so that the
    // application's (serial=) no longer stands for it.
    bool bootloaderSerialGiven = false;

    // Faults and timing.
    std::uint32_t rebootDelayMs = 1500;        // gone this long after a reboot or reset
    int busyPolls = 0;                          // busy answers before each acknowledgement
    std::uint16_t startStatus = 0;              // status acknowledging the start
    std::optional<std::uint16_t> verifyStatus;  // forced verification status
    bool ignoreReboot = false;                  // application takes the magic but stays
    // The unit serial number is what both states give as their USB serial
    // number; a unit that loses it acknowledges -S and keeps its old one.
    bool serialWriteLost = false;
    AckChannel ack;

    // What the device holds. While the world keeps memory bounded, received
    // and firmware stay empty: the image is checked as it arrives.
    Bytes received;                // image data of the update in progress
    Bytes firmware;                // the image installed by the last verified update
    std::uint64_t receivedBytes = 0;   // image data of the update in progress
    ReferenceChecksummer receivedChecksum;  // of that data, its header skipped
    std::optional<std::array<std::uint8_t, 16>> checksumReceived;
    std::array<std::uint8_t, 16> unitSerial{};
    std::optional<std::uint32_t> boardRevision;
    std::vector<Bytes> emcRecords;
    int updatesStarted = 0;
    int resetsFromBootloader = 0;
    int rebootsIntoBootloader = 0;

    // What rides on the device's reports besides its own command set, offered
    // every command in this fixed order: first the extensions a test adds,
    // then the radio, then the SWD probe. A device without a radio or a probe
    // simply has no such part.
    std::vector<std::unique_ptr<CommandExtension>> extensions;
    std::optional<RadioModel> radio;
    std::optional<SwdProbeModel> swdProbe;

protected:
    // Who a device of the controller's protocol is, and which parts it has.
    struct Hardware {
        std::uint16_t appProductId;
        std::uint16_t bootloaderProductId;
        const char* name;
        bool hasRadio;
        bool hasSwdProbe;
    };
    ControllerModel(Mode mode, const Hardware& hardware);

    // Commands of the current mode; false when refused.
    virtual bool OnApplicationCommand(std::uint8_t code, const Bytes& payload);
    virtual bool OnBootloaderCommand(std::uint8_t code, const Bytes& payload);
    void Restart(Mode next);

private:
    // Whether an extension, the radio or the probe, in that order, takes the command.
    bool OfferToExtensions(std::uint8_t code, const Bytes& payload, bool& accepted);
};

}  // namespace sim
