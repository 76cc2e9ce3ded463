// The wireless dongle running its application (0x1142). It speaks the
// controller's command format: it takes EMC records for its own radio and
// carries the radio's update commands over the wireless link to the paired
// controller's radio. It has no bootloader under this protocol and no SWD
// probe, and it ignores the reboot magic.
#pragma once

#include "sim/ControllerModel.h"

namespace sim {

class DongleAppModel : public ControllerModel {
public:
    DongleAppModel()
        : ControllerModel(Mode::Application, {kDongleApp, kDongleApp, "dongle-app", true, false}) {
        descriptor = {L"QD3B0457", 0x0203, L"Quorl", L"Quorl Wireless Dongle"};
    }

protected:
    bool OnApplicationCommand(std::uint8_t code, const Bytes& payload) override {
        if (code == kRestart) {
            return false;
        }
        return ControllerModel::OnApplicationCommand(code, payload);
    }
};

}  // namespace sim
