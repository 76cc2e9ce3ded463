#include "devices/DeviceKind.h"

#include "device/UsbIds.h"

namespace {

struct KnownDevice {
    std::uint16_t vendorId;
    std::uint16_t productId;
    const char* kind;
    const char* state;
};

constexpr KnownDevice kKnownDevices[] = {
    {kQuorlVendorId, kControllerAppProductId, "controller", "application"},
    {kQuorlVendorId, kControllerBootloaderProductId, "controller", "bootloader"},
    {kQuorlVendorId, kDongleAppProductId, "dongle", "application"},
    {kQuorlVendorId, kDongleBootloaderProductId, "dongle", "bootloader"},
    {kQuorlVendorId, kTivaneBootloaderProductId, "Tivane", "HID bootloader"},
    {kTivaneSerialVendorId, kTivaneSerialProductId, "Tivane", "serial application"},
};

}  // namespace

std::optional<DeviceKind> ClassifyDevice(std::uint16_t vendorId, std::uint16_t productId) {
    for (const KnownDevice& known : kKnownDevices) {
        if (known.vendorId == vendorId && known.productId == productId) {
            return DeviceKind{known.kind, known.state};
        }
    }
    if (vendorId == kQuorlVendorId) {
        return DeviceKind{"unknown", "unknown"};
    }
    return std::nullopt;
}
