#include "sim/Scenario.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include "sim/SimWorld.h"

namespace sim {

namespace {

struct Entry {
    std::string help;
    ModelFactory factory;
    ModelSetting setting;
};

std::map<std::string, Entry>& Registry() {
    static std::map<std::string, Entry> registry;
    return registry;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

}  // namespace

ModelRegistration::ModelRegistration(const std::string& name, const std::string& help,
                                     ModelFactory factory, ModelSetting setting) {
    Registry()[name] = Entry{help, std::move(factory), std::move(setting)};
}

void SplitSetting(const std::string& setting, std::string& key, std::string& value) {
    const std::size_t equals = setting.find('=');
    key = setting.substr(0, equals);
    value = equals == std::string::npos ? std::string() : setting.substr(equals + 1);
}

bool ApplyCommonSetting(SimDevice& device, const std::string& key, const std::string& value) {
    const long long number = std::atoll(value.c_str());
    if (key == "refuse-set") {
        device.refuseSetReports = static_cast<int>(number);
    } else if (key == "refuse-get") {
        device.refuseGetReports = static_cast<int>(number);
    } else if (key == "unplug-after") {
        device.unplugAfterReports = number;
    } else if (key == "appear-at") {
        device.appearAtMs = static_cast<std::uint64_t>(number);
    } else if (key == "access-denied") {
        device.accessDenied = number != 0;
    } else {
        return false;
    }
    return true;
}

bool LoadScenario(const std::string& text, std::string& error) {
    for (const std::string& item : Split(text, ',')) {
        std::vector<std::string> parts = Split(item, ':');
        const auto found = Registry().find(parts.empty() ? std::string() : parts[0]);
        if (found == Registry().end()) {
            error = "unknown simulated device \"" + item + "\"";
            return false;
        }
        SimDevice& device = found->second.factory(World::Get());
        for (std::size_t i = 1; i < parts.size(); ++i) {
            std::string key;
            std::string value;
            SplitSetting(parts[i], key, value);
            if (!ApplyCommonSetting(device, key, value) && !found->second.setting(device, key, value)) {
                error = "unknown setting \"" + parts[i] + "\" of simulated device " + parts[0];
                return false;
            }
        }
    }
    return true;
}

std::string ScenarioHelp() {
    std::string help;
    for (const auto& [name, entry] : Registry()) {
        help += "  " + name + ": " + entry.help + "\n";
    }
    help += "  settings of every device: refuse-set=N refuse-get=N unplug-after=K appear-at=MS access-denied=1\n";
    return help;
}

}  // namespace sim
