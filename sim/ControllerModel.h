// The wired controller: its application (0x1102), which takes the reboot
// magic and EMC records, and its USB bootloader (0x1002), which takes an
// image (start, data, checksum), checks the checksum with its own
// computation, acknowledges with 0x94 reports, and resets to the application.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/ReferenceChecksum.h"
#include "sim/SimWorld.h"

namespace sim {

constexpr std::uint16_t kVendor = 0x28DE;
constexpr std::uint16_t kControllerApp = 0x1102;
constexpr std::uint16_t kControllerBootloader = 0x1002;
constexpr std::uint16_t kDongleApp = 0x1142;
constexpr std::uint16_t kDongleBootloader = 0x1042;
constexpr std::uint16_t kTivaneBootloader = 0x1071;

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

class ControllerModel;

// A protocol that rides on the controller's feature reports besides its own
// command set (the radio's update commands, the SWD tunnel). Every
// ControllerModel gets one instance of each registered extension.
class CommandExtension {
public:
    virtual ~CommandExtension() = default;
    // Offered every command before the controller's own handling. Returns
    // true when the command is the extension's, with accepted saying whether
    // the device took it (false: the transfer is refused).
    virtual bool OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                           bool& accepted) = 0;
    // A reply of the extension's own for the next feature-report read, if it
    // has one; otherwise the controller's acknowledgement report is read.
    virtual std::optional<Bytes> OnGetFeature(ControllerModel& /*host*/) { return std::nullopt; }
};

using ExtensionFactory = std::function<std::unique_ptr<CommandExtension>()>;
struct ExtensionRegistration {
    explicit ExtensionRegistration(ExtensionFactory factory);
};

class ControllerModel : public SimDevice {
public:
    enum class Mode { Application, Bootloader };

    explicit ControllerModel(Mode mode = Mode::Application, std::uint16_t appProductId = kControllerApp,
                             std::uint16_t bootloaderProductId = kControllerBootloader,
                             const char* name = "controller");

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

    // Faults and timing.
    std::uint32_t rebootDelayMs = 1500;        // gone this long after a reboot or reset
    int busyPolls = 0;                          // busy answers before each acknowledgement
    std::uint16_t startStatus = 0;              // status acknowledging the start
    std::optional<std::uint16_t> verifyStatus;  // forced verification status
    bool ignoreReboot = false;                  // application takes the magic but stays
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

    std::vector<std::unique_ptr<CommandExtension>> extensions;
    // The extension of the given type, or null.
    template <class T>
    T* Extension() {
        for (auto& extension : extensions) {
            if (auto* found = dynamic_cast<T*>(extension.get())) {
                return found;
            }
        }
        return nullptr;
    }

protected:
    // Commands of the current mode; false when refused.
    virtual bool OnApplicationCommand(std::uint8_t code, const Bytes& payload);
    virtual bool OnBootloaderCommand(std::uint8_t code, const Bytes& payload);
    void Restart(Mode next);
};

// The controller's settings for the simulated-device build (busy=N, ...),
// which every device built on the controller's protocol takes too.
bool ApplyControllerSetting(SimDevice& device, const std::string& key, const std::string& value);

}  // namespace sim
