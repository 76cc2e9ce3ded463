#include "devices/ListingJson.h"

#include <nlohmann/json.hpp>

#include "devices/ListingText.h"

namespace {

// The document's key names, which scripts depend on.
namespace key {
constexpr const char* kDevices = "devices";
constexpr const char* kKind = "kind";
constexpr const char* kState = "state";
constexpr const char* kVendorId = "vendorId";
constexpr const char* kProductId = "productId";
constexpr const char* kRelease = "release";
constexpr const char* kSerial = "serial";
constexpr const char* kProduct = "product";
constexpr const char* kPath = "path";
constexpr const char* kPort = "port";
constexpr const char* kAccess = "access";
constexpr const char* kEvent = "event";
}  // namespace key

nlohmann::ordered_json StringOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

// A device's fields, in the document's order.
nlohmann::ordered_json DeviceFields(const ListedDevice& device) {
    return {
        {key::kKind, device.what.kind},
        {key::kState, device.what.state},
        {key::kVendorId, UsbIdText(device.vendorId)},
        {key::kProductId, UsbIdText(device.productId)},
        {key::kRelease, ReleaseText(device.release)},
        {key::kSerial, StringOrNull(device.serialNumber)},
        {key::kProduct, StringOrNull(device.product)},
        {key::kPath, StringOrNull(device.path)},
        {key::kPort, StringOrNull(device.port)},
    };
}

// Device strings are not always valid UTF-8: a bad byte becomes U+FFFD
// rather than an exception.
std::string Dump(const nlohmann::ordered_json& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string ListingJson(const std::vector<ListedDevice>& devices) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ListedDevice& device : devices) {
        nlohmann::ordered_json fields = DeviceFields(device);
        fields[key::kAccess] = WordsFor(device.access).json;
        list.push_back(std::move(fields));
    }
    // Keys in the documented order.
    return Dump({{key::kDevices, list}}, 2);
}

std::string DeviceEventJson(const std::string& event, const ListedDevice& device) {
    nlohmann::ordered_json line = {{key::kEvent, event}};
    line.update(DeviceFields(device));
    return Dump(line, -1);
}
