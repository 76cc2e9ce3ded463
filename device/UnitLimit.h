// TEMPORARY stand-in until the port limit lands.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
struct UnitLimit { std::string port; std::string serialNumber; std::vector<std::string> portsAtStart; };
void LimitDevicesToUnit(UnitLimit limit);
const UnitLimit* ActiveUnitLimit();
std::optional<std::string> UnitRefusal();
struct UnitSightings { std::vector<std::uint16_t> productIds; std::vector<std::string> serialNumbers; };
const UnitSightings& UnitDevicesSeen();
