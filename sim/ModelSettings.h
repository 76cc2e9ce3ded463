// The "key=value" settings of the simulated-device build (Scenario.h): the
// faults and timings of each model, by name. Each function returns false for
// a key that is not one of its own.
#pragma once

#include <string>

#include "sim/SimWorld.h"

namespace sim {

// Settings of every device: refuse-set=N refuse-get=N unplug-after=K
// appear-at=MS access-denied=1 die-after=K hang-after=K node=N, and the hub ports
// at=PORT comes-back-at=PORT swaps-node-with=PORT ("3", or "1.2.3" behind
// hubs). A value that is not what its key takes is named in problem.
bool ApplyCommonSetting(SimDevice& device, const std::string& key, const std::string& value,
                        std::string& problem);

// A device of the controller's protocol: its own settings, then those of its
// radio (radio-*) and of its SWD probe (swd-*) when it has one.
bool ApplyControllerSetting(SimDevice& device, const std::string& key, const std::string& value);

bool ApplyDongleBootloaderSetting(SimDevice& device, const std::string& key,
                                  const std::string& value);

// The Tivane's restart-delay, reboot-delay, port and serial (its serial
// port's too), then the controller's settings.
bool ApplyTivaneSetting(SimDevice& device, const std::string& key, const std::string& value);

}  // namespace sim
