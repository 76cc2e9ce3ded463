// The wired controller's SWD probe, a part of that controller alone: while
// the controller runs its application and a start with the SWD magic was
// taken, it carries writes, reads and erases to the radio chip's flash (0xC6
// to 0xCB), and acknowledges them through the controller's 0x94 reports. A
// restart request (0x95 without payload) makes the controller restart its
// application.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/CommandExtension.h"
#include "sim/RadioFlashModel.h"

namespace sim {

class SwdProbeModel : public CommandExtension {
public:
    bool OnCommand(ControllerModel& host, std::uint8_t code, const Bytes& payload,
                   bool& accepted) override;
    std::optional<Bytes> OnGetFeature(ControllerModel& host) override;

    // Whether the probe is in SWD mode for this run of the host's application.
    bool Active(const ControllerModel& host) const;

    RadioFlashModel flash;

    // Faults on demand; a failed operation is acknowledged with a failure status.
    int startFailures = 0;                     // the next N starts are answered with failure
    std::optional<std::uint32_t> failWriteAt;  // a write covering this address fails
    std::optional<std::uint32_t> failEraseAt;  // erasing the page holding this address fails
    int chipEraseFailures = 0;                 // the next N chip erases fail
    int withheldReadReplies = 0;  // read replies come this many polls late
    int shortReadReplies = 0;     // the next N read replies carry only 3 bytes
    // The next N polls for a read are answered with the previous read's
    // reply (its address and data), which the probe has not yet replaced.
    int staleReadReplies = 0;
    bool refuseEnd = false;       // the end of SWD mode is refused
    // A read reply's header as another firmware may fill it: this length
    // byte instead of 4 + n, this address instead of the read's.
    std::optional<std::uint8_t> readReplyLength;
    std::optional<std::uint32_t> readReplyAddress;

    // What the probe was asked to do.
    int starts = 0;
    int ends = 0;
    int restarts = 0;

private:
    bool OnSwdRequest(ControllerModel& host, std::uint8_t code, const Bytes& payload);
    std::uint16_t Write(const Bytes& payload);
    std::uint16_t EraseSector(const Bytes& payload);

    bool swdMode = false;
    std::uint64_t swdGeneration = 0;  // the host's run in which SWD mode was entered
    std::optional<Bytes> pendingReadReply;
    std::optional<Bytes> lastReadReply;  // the last reply handed over
};

}  // namespace sim
