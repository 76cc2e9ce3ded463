#include "sim/DongleAppModel.h"

#include "sim/Scenario.h"

namespace sim {

namespace {

const ModelRegistration kDongleApplication(
    "dongle-app", "wireless dongle running its application (0x1142)",
    [](World& world) -> SimDevice& { return world.Add<DongleAppModel>(); },
    [](SimDevice&, const std::string&, const std::string&) { return false; });

}  // namespace

}  // namespace sim
