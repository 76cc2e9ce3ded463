// Plugging simulated devices in by name, for the simulated-device build:
//   QUORL_SIM_DEVICES="controller:busy=3,dongle-app"
// Each entry is a model name (ModelCatalog.h) and ":"-separated key=value
// settings (ModelSettings.h).
#pragma once

#include <string>

namespace sim {

class SimDevice;

// Plugs in every device the text names; false with a message on a bad entry.
bool LoadScenario(const std::string& text, std::string& error);

// Plugs in the device one entry names ("controller:at=3:serial=QC7F0100"):
// null with a message when the entry is bad. A unit of a model's default
// serial number after the first gets the next number (QC7F0013, ...).
SimDevice* PlugScenarioEntry(const std::string& entry, std::string& error);

// Whether the entry would plug in, without plugging anything in.
bool CheckScenarioEntry(const std::string& entry, std::string& error);

// The devices plugged in now, as QUORL_SIM_DEVICES names them for another
// process: each entry with its hub port and node number (and a Tivane's
// serial port) made explicit; "none" when there are none.
std::string PresentScenario();

// The names and settings that LoadScenario knows, one per line.
std::string ScenarioHelp();

// "key=value" split; value empty when there is no "=".
void SplitSetting(const std::string& setting, std::string& key, std::string& value);

}  // namespace sim
