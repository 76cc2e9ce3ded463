#include "device/UnitLimit.h"

#include <algorithm>

#include "device/WideText.h"
#include "platform/usb/UsbPort.h"

namespace {

struct UnitState {
    std::optional<UnitLimit> limit;
    std::optional<std::string> refusal;
    // A device seen at another port while the unit was away (restarting)
    // stands only until the unit opens at its own port: then it was another.
    bool refusalWithdrawable = false;
    UnitSightings seen;
};

UnitState& Unit() {
    static UnitState state;
    return state;
}

// The first reason stands, except that a sure one takes the place of one
// that may yet be withdrawn.
void Refuse(std::string reason, bool withdrawable) {
    if (!Unit().refusal || (Unit().refusalWithdrawable && !withdrawable)) {
        Unit().refusal = std::move(reason);
        Unit().refusalWithdrawable = withdrawable;
    }
}

// A device of the unit's IDs at another port is the unit itself, come back
// where it should not be, when no unit sat at that port at the start. One at
// a port where another unit sat is that unit, and no concern of this one,
// whatever its serial number says: units fresh from the factory may all
// carry the same.
bool IsTheUnitElsewhere(const UnitLimit& limit, const std::string& port) {
    return !port.empty() && std::find(limit.portsAtStart.begin(), limit.portsAtStart.end(),
                                      port) == limit.portsAtStart.end();
}

template <class Value>
void AddOnce(std::vector<Value>& values, const Value& value) {
    if (std::find(values.begin(), values.end(), value) == values.end()) {
        values.push_back(value);
    }
}

}  // namespace

void LimitDevicesToUnit(UnitLimit limit) { Unit().limit = std::move(limit); }

const UnitLimit* ActiveUnitLimit() { return Unit().limit ? &*Unit().limit : nullptr; }

void LiftUnitLimit() { Unit() = UnitState{}; }

std::optional<std::string> UnitRefusal() { return Unit().refusal; }

const UnitSightings& UnitDevicesSeen() { return Unit().seen; }

hid_device* OpenAtUnitPort(unsigned short vendorId, unsigned short productId) {
    const UnitLimit& limit = *Unit().limit;
    hid_device_info* listed = hid_enumerate(vendorId, productId);
    const hid_device_info* atUnitPort = nullptr;
    std::optional<std::string> cameBackAt;
    for (const hid_device_info* info = listed; info != nullptr && atUnitPort == nullptr;
         info = info->next) {
        const std::string port = platform::UsbPortOfHidDevice(info->path != nullptr ? info->path : "");
        if (!port.empty() && port == limit.port) {
            atUnitPort = info;
        } else if (!cameBackAt && IsTheUnitElsewhere(limit, port)) {
            cameBackAt = port;
        }
    }
    hid_device* handle = nullptr;
    if (atUnitPort != nullptr) {
        const std::string serialNumber = Utf8FromWide(atUnitPort->serial_number);
        AddOnce(Unit().seen.productIds, static_cast<std::uint16_t>(atUnitPort->product_id));
        if (!serialNumber.empty()) {
            AddOnce(Unit().seen.serialNumbers, serialNumber);
        }
        // Another unit plugged in where this one was: nothing is written to it.
        if (!serialNumber.empty() && !limit.serialNumber.empty() &&
            serialNumber != limit.serialNumber) {
            Refuse("serial number " + serialNumber + " at port " + limit.port +
                       " differs from the unit's serial number " + limit.serialNumber,
                   false);
        } else {
            handle = hid_open_path(atUnitPort->path);
        }
        if (handle != nullptr && Unit().refusalWithdrawable) {
            Unit().refusal.reset();
        }
    } else if (cameBackAt) {
        Refuse("came back at another port: " + *cameBackAt, true);
    }
    hid_free_enumeration(listed);
    return handle;
}
