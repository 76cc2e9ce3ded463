// The device models that the simulated-device build plugs in by name
// (QUORL_SIM_DEVICES, Scenario.h), in one table: each name with its help text,
// the factory that plugs the model into the world, and its own settings.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/SimWorld.h"

namespace sim {

struct ModelEntry {
    std::string_view name;
    std::string_view help;  // what the model is and which settings it takes
    SimDevice& (*plug)(World& world);
    // Applies one of the model's own "key=value" settings; false for a key it does not know.
    bool (*apply)(SimDevice& device, const std::string& key, const std::string& value);
};

// Every model, in the order the help lists them.
std::span<const ModelEntry> ModelCatalog();

// The entry of that name, or null.
const ModelEntry* FindModel(std::string_view name);

}  // namespace sim
