#include "sim/DongleAppModel.h"

#include "sim/Scenario.h"

namespace sim {

namespace {

const ModelRegistration kDongleApplication(
    "dongle-app",
    "wireless dongle running its application (0x1142), through which the controller's radio is "
    "reached; settings as controller (radio-app=0: no radio behind it)",
    [](World& world) -> SimDevice& { return world.Add<DongleAppModel>(); }, ApplyControllerSetting);

}  // namespace

}  // namespace sim
