// A protocol that rides on the controller's feature reports besides its own
// command set: the radio's update commands, the SWD probe, and whatever a test
// puts in front of them (a link that drops a command, an observer).
#pragma once

#include <cstdint>
#include <optional>

#include "sim/SimWorld.h"

namespace sim {

class ControllerModel;

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

}  // namespace sim
