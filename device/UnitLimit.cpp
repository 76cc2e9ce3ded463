#include "device/UnitLimit.h"
namespace { std::optional<UnitLimit> limit; UnitSightings seen; }
void LimitDevicesToUnit(UnitLimit l) { limit = std::move(l); }
const UnitLimit* ActiveUnitLimit() { return limit ? &*limit : nullptr; }
std::optional<std::string> UnitRefusal() { return std::nullopt; }
const UnitSightings& UnitDevicesSeen() { return seen; }
