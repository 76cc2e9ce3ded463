#include "device/UnitLimit.h"

#include <algorithm>

#include "device/WideText.h"
#include "platform/usb/HidListing.h"
#include "platform/usb/UsbPort.h"

namespace {

struct UnitState {
    std::optional<UnitLimit> limit;
    std::optional<std::string> refusal;
    UnitSightings seen;
};

UnitState& Unit() {
    static UnitState state;
    return state;
}

template <class Value>
void AddOnce(std::vector<Value>& values, const Value& value) {
    if (std::find(values.begin(), values.end(), value) == values.end()) {
        values.push_back(value);
    }
}

// The port of the device a handle reaches, by what the handle itself names
// (Linux: the open descriptor's device number), not by the listing.
std::string PortOfOpenDevice(hid_device* handle) {
    const hid_device_info* info = hid_get_device_info(handle);
    return info != nullptr && info->path != nullptr ? platform::UsbPortOfHidDevice(info->path)
                                                    : std::string();
}

}  // namespace

void LimitDevicesToUnit(UnitLimit limit) { Unit().limit = std::move(limit); }

const UnitLimit* ActiveUnitLimit() { return Unit().limit ? &*Unit().limit : nullptr; }

void LiftUnitLimit() { Unit() = UnitState{}; }

std::optional<std::string> UnitRefusal() { return Unit().refusal; }

const UnitSightings& UnitDevicesSeen() { return Unit().seen; }

hid_device* OpenAtUnitPort(unsigned short vendorId, unsigned short productId) {
    const UnitLimit& limit = *Unit().limit;
    const std::vector<platform::HidNode> atPort =
        platform::ListHidDevices(vendorId, productId, limit.port);
    const auto listed = std::find_if(atPort.begin(), atPort.end(), [&](const platform::HidNode& node) {
        return !node.port.empty() && node.port == limit.port;
    });
    if (listed == atPort.end()) {
        return nullptr;
    }
    AddOnce(Unit().seen.productIds, listed->productId);
    if (!listed->serialNumber.empty()) {
        AddOnce(Unit().seen.serialNumbers, listed->serialNumber);
    }
    // Another unit plugged in where this one was: nothing is written to it.
    if (limit.checkSerialNumber && !listed->serialNumber.empty() && !limit.serialNumber.empty() &&
        listed->serialNumber != limit.serialNumber) {
        if (!Unit().refusal) {
            Unit().refusal = "serial number " + listed->serialNumber + " at port " + limit.port +
                             " differs from the unit's serial number " + limit.serialNumber;
        }
        return nullptr;
    }
    hid_device* handle = hid_open_path(listed->path.c_str());
    if (handle != nullptr && PortOfOpenDevice(handle) != limit.port) {
        hid_close(handle);
        return nullptr;
    }
    return handle;
}
