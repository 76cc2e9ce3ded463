#include "sim/Scenario.h"

#include <cctype>
#include <map>
#include <sstream>
#include <vector>

#include "sim/ControllerModel.h"
#include "sim/HostConventions.h"
#include "sim/ModelCatalog.h"
#include "sim/ModelSettings.h"
#include "sim/TivaneModel.h"

namespace sim {

namespace {

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

void SplitSetting(const std::string& setting, std::string& key, std::string& value) {
    const std::size_t equals = setting.find('=');
    key = setting.substr(0, equals);
    value = equals == std::string::npos ? std::string() : setting.substr(equals + 1);
}

namespace {

// The serial number of the n-th unit of a model (n from 1): each unit of a
// bench has its own, as real units do, numbered on from the model's.
std::string NthSerial(const std::wstring& first, std::size_t n) {
    std::string serial(first.begin(), first.end());
    std::size_t digits = serial.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(serial[digits - 1])) != 0) {
        --digits;
    }
    const std::string number = serial.substr(digits);
    std::string next = std::to_string((number.empty() ? 0 : std::stoull(number)) + n - 1);
    if (next.size() < number.size()) {
        next.insert(0, number.size() - next.size(), '0');
    }
    return serial.substr(0, digits) + next;
}

// The serial number a model gives every unit unless told otherwise: its
// application's, or, for a device whose application is no HID device (the
// Tivane), its bootloader's.
std::wstring DefaultSerial(const SimDevice& device) {
    if (const auto* controller = dynamic_cast<const ControllerModel*>(&device)) {
        return controller->descriptor.serialNumber.empty()
                   ? controller->bootloaderDescriptor.serialNumber
                   : controller->descriptor.serialNumber;
    }
    return device.Descriptor().serialNumber;
}

}  // namespace

SimDevice* PlugScenarioEntry(const std::string& item, std::string& error) {
    const std::vector<std::string> parts = Split(item, ':');
    const ModelEntry* model = FindModel(parts.empty() ? std::string() : parts[0]);
    if (model == nullptr) {
        error = "unknown simulated device \"" + item + "\"";
        return nullptr;
    }
    World& world = World::Get();
    SimDevice& device = model->plug(world);
    device.entry = item;
    const std::wstring serial = DefaultSerial(device);
    const std::size_t n = ++world.unitsWithSerial[serial];
    if (n > 1 && !serial.empty()) {
        // Named in its entry, so that a worker's world, which may hold
        // fewer units, gives it the same.
        const std::string nth = NthSerial(serial, n);
        model->apply(device, "serial", nth);
        device.entry = parts[0] + ":serial=" + nth + item.substr(parts[0].size());
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string key;
        std::string value;
        SplitSetting(parts[i], key, value);
        std::string problem;
        if (!ApplyCommonSetting(device, key, value, problem) &&
            !model->apply(device, key, value)) {
            error = "unknown setting \"" + parts[i] + "\" of simulated device " + parts[0];
            return nullptr;
        }
        if (!problem.empty()) {
            error = "bad setting \"" + parts[i] + "\" of simulated device " + parts[0] + ": " +
                    problem;
            return nullptr;
        }
    }
    return &device;
}

bool LoadScenario(const std::string& text, std::string& error) {
    for (const std::string& item : Split(text, ',')) {
        if (PlugScenarioEntry(item, error) == nullptr) {
            return false;
        }
    }
    return true;
}

bool CheckScenarioEntry(const std::string& item, std::string& error) {
    World& world = World::Get();
    const std::size_t devices = world.devices.size();
    const std::size_t usbEntries = world.usbEntries.size();
    const auto unitsWithSerial = world.unitsWithSerial;
    const bool plugged = PlugScenarioEntry(item, error) != nullptr;
    world.devices.resize(devices);
    world.usbEntries.resize(usbEntries);
    world.unitsWithSerial = unitsWithSerial;
    return plugged;
}

std::string PresentScenario() {
    std::string text;
    for (const auto& device : World::Get().devices) {
        if (device->entry.empty()) {
            continue;
        }
        text += (text.empty() ? "" : ",") + device->entry + ":at=" + HubPortText(device->usbPort) +
                ":node=" + std::to_string(device->busPlace);
        if (const auto* tivane = dynamic_cast<const TivaneModel*>(device.get())) {
            text += ":port=" + tivane->serial.serialPort;
        }
    }
    return text.empty() ? "none" : text;
}

std::string ScenarioHelp() {
    std::string help;
    for (const ModelEntry& model : ModelCatalog()) {
        help += "  " + std::string(model.name) + ": " + std::string(model.help) + "\n";
    }
    help += "  settings of every device: refuse-set=N refuse-get=N unplug-after=K appear-at=MS "
            "access-denied=1 at=PORT (plugged into hub port PORT, such as 3, or 1.2.3 behind "
            "hubs; default: 1, 2, ... in the order given) comes-back-at=PORT (enumerates at that "
            "port after its next restart) swaps-node-with=PORT (the first open of its path "
            "reaches the device at that port, whose node it becomes) serial=TEXT (its serial "
            "number) bootloader-serial=TEXT (its bootloader's; default: serial's) die-after=K "
            "(the process driving it dies at its K-th report) hang-after=K (its K-th report "
            "never returns; the process dies after 120 s unless ended before) node=N (the "
            "number in its HID path; default: the lowest one free)\n";
    help += "hidapi and the system behave as on " + std::string(Host().name) + ".\n";
    return help;
}

}  // namespace sim
