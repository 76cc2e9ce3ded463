// The USB device listing on Windows, from the device-information service:
// every present device that the USB bus enumerated, of every class, with its
// hardware IDs and its display name ("USB Serial Device (COM5)" for a port).
#include "platform/Platform.h"

#include <cstdio>
#include <vector>

#include "platform/DeviceInfoList.h"
#include "platform/WideText.h"

// The property keys, defined in this file.
#include <initguid.h>

#include <devpkey.h>

namespace platform {

namespace {

// A text property of the device as stored (REG_SZ or REG_MULTI_SZ, zeros
// included); empty when the device has none. Sized to the property, so that
// a long list of hardware IDs is never cut.
std::wstring TextProperty(HDEVINFO list, SP_DEVINFO_DATA& DeviceInfoData, DWORD property) {
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(list, &DeviceInfoData, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(
            list, &DeviceInfoData, property, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), nullptr)) {
        return {};
    }
    return std::wstring(buffer.data(), buffer.size());
}

// The texts of a zero-separated list, in order.
std::vector<std::string> MultiText(const std::wstring& stored) {
    std::vector<std::string> texts;
    for (std::size_t at = 0; at < stored.size() && stored[at] != L'\0';) {
        const std::size_t end = stored.find(L'\0', at);
        texts.push_back(Utf8FromWide(stored.substr(at, end - at)));
        at = end == std::wstring::npos ? stored.size() : end + 1;
    }
    return texts;
}

// The product string from the device descriptor, as the bus reported it.
std::string ProductString(HDEVINFO list, SP_DEVINFO_DATA& DeviceInfoData) {
    wchar_t product[256] = {};
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(list, &DeviceInfoData, &DEVPKEY_Device_BusReportedDeviceDesc,
                                   &type, reinterpret_cast<BYTE*>(product),
                                   sizeof product - sizeof(wchar_t), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING) {
        return {};
    }
    return Utf8FromWide(product);
}

// The serial number, which Windows makes the last part of the instance ID
// (USB\VID_2548&PID_1001\0123ABC); a device without one gets a made-up part
// with "&" in it.
std::string SerialNumber(HDEVINFO list, SP_DEVINFO_DATA& DeviceInfoData) {
    wchar_t instance[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(list, &DeviceInfoData, instance, 511, nullptr)) {
        return {};
    }
    const std::wstring id(instance);
    const std::wstring last = id.substr(id.find_last_of(L'\\') + 1);
    return id.find(L'\\') == std::wstring::npos || last.find(L'&') != std::wstring::npos
               ? std::string()
               : Utf8FromWide(last);
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices() {
    std::vector<UsbDevice> devices;
    const DeviceInfoList list = OwnDeviceInfoList(
        SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!list) {
        return devices;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA DeviceInfoData{};
        DeviceInfoData.cbSize = sizeof DeviceInfoData;
        if (!SetupDiEnumDeviceInfo(list.get(), index, &DeviceInfoData)) {
            break;
        }
        UsbDevice device;
        device.hardwareIds = MultiText(TextProperty(list.get(), DeviceInfoData, SPDRP_HARDWAREID));
        const std::vector<std::string> names =
            MultiText(TextProperty(list.get(), DeviceInfoData, SPDRP_FRIENDLYNAME));
        if (!names.empty()) {
            device.displayName = names.front();
        }
        // The port's name is in the display name; there is no device node.
        unsigned vendorId = 0;
        unsigned productId = 0;
        unsigned revision = 0;
        if (!device.hardwareIds.empty() &&
            std::sscanf(device.hardwareIds.front().c_str(), "USB\\VID_%4x&PID_%4x&REV_%4x",
                        &vendorId, &productId, &revision) >= 2) {
            device.vendorId = static_cast<std::uint16_t>(vendorId);
            device.productId = static_cast<std::uint16_t>(productId);
            device.revision = static_cast<std::uint16_t>(revision);
        }
        device.serialNumber = SerialNumber(list.get(), DeviceInfoData);
        device.product = ProductString(list.get(), DeviceInfoData);
        devices.push_back(std::move(device));
    }
    return devices;
}

}  // namespace platform
