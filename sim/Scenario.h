// Plugging simulated devices in by name, for the simulated-device build:
//   QUORL_SIM_DEVICES="controller:busy=3,dongle-app"
// Each entry is a model name (ModelCatalog.h) and ":"-separated key=value
// settings (ModelSettings.h).
#pragma once

#include <string>

namespace sim {

// Plugs in every device the text names; false with a message on a bad entry.
bool LoadScenario(const std::string& text, std::string& error);

// The names and settings that LoadScenario knows, one per line.
std::string ScenarioHelp();

// "key=value" split; value empty when there is no "=".
void SplitSetting(const std::string& setting, std::string& key, std::string& value);

}  // namespace sim
