// The wireless dongle running its application (0x1142). It speaks the
// controller's command format: it takes EMC records for its own radio and
// carries commands over the wireless link to the paired controller. It has
// no bootloader of its own under this protocol and ignores the reboot magic.
#pragma once

#include "sim/ControllerModel.h"

namespace sim {

class DongleAppModel : public ControllerModel {
public:
    DongleAppModel() : ControllerModel(Mode::Application, kDongleApp, kDongleApp, "dongle-app") {
        descriptor = {L"QD3B0457", 0x0203, L"Quorl", L"Quorl Wireless Dongle"};
    }

protected:
    bool OnApplicationCommand(std::uint8_t code, const Bytes& payload) override {
        if (code == 0x95) {
            return false;
        }
        return ControllerModel::OnApplicationCommand(code, payload);
    }
};

}  // namespace sim
