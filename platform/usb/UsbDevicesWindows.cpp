// The USB device listing on Windows, from the device-information service:
// every present device that the USB bus enumerated, of every class, with its
// hardware IDs, its display name ("USB Serial Device (COM5)" for a port) and
// the port it sits on; and the port of a HID device.
#include "platform/Platform.h"

#include <cstdio>
#include <vector>

#include "platform/usb/DeviceInfoList.h"
#include "platform/usb/DeviceTreeWindowsText.h"
#include "platform/usb/UsbPort.h"
#include "platform/usb/UsbPortWindows.h"
#include "platform/text/WideText.h"

// The property keys, defined in this file.
#include <initguid.h>

#include <devpkey.h>
// CM_Get_Parent and CM_Get_Device_IDW, which setupapi.dll (a Known DLL)
// exports as well as cfgmgr32.dll: the import library is SetupAPI's.
#include <cfgmgr32.h>

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

// The first of the device's location paths, such as
// "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)": where it sits, which stays when
// it enumerates again under another product ID (unlike LocationInformation,
// "Port_#0002.Hub_#0001", whose hub number changes as hubs come and go).
std::string FirstLocationPath(const wchar_t* instanceId) {
    const DeviceInfoList list = OwnDeviceInfoList(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA DeviceInfoData{};
    DeviceInfoData.cbSize = sizeof DeviceInfoData;
    if (!list || !SetupDiOpenDeviceInfoW(list.get(), instanceId, nullptr, 0, &DeviceInfoData)) {
        return {};
    }
    DEVPROPTYPE type = 0;
    DWORD bytes = 0;
    SetupDiGetDevicePropertyW(list.get(), &DeviceInfoData, &DEVPKEY_Device_LocationPaths, &type,
                              nullptr, 0, &bytes, 0);
    if (bytes == 0) {
        return {};
    }
    // Zeros behind the list, so that a list stored without its end still ends.
    std::vector<wchar_t> paths(bytes / sizeof(wchar_t) + 2, L'\0');
    if (!SetupDiGetDevicePropertyW(list.get(), &DeviceInfoData, &DEVPKEY_Device_LocationPaths,
                                   &type, reinterpret_cast<BYTE*>(paths.data()), bytes, nullptr,
                                   0) ||
        type != DEVPROP_TYPE_STRING_LIST) {
        return {};
    }
    return Utf8FromWide(std::wstring(paths.data()));
}

// The setup class of COM and LPT ports, and the interface that serial port
// drivers register: a COM port is found by the one or the other.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// The COM name a port's driver gave it, in its device's registry key.
std::wstring PortNameOf(HDEVINFO list, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD bytes = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                       &bytes) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    return read ? std::wstring(name) : std::wstring();
}

}  // namespace

// The port of the USB device node at or above a device node: a HID
// collection and a COM port sit below it, directly or below one interface of
// a composite device. The instance IDs on the way up decide which node that
// is (DeviceTreeWindowsText.h): none for a device on a Bluetooth link.
std::string UsbPortOfDeviceNode(DEVINST node) {
    std::vector<std::string> wayUp;
    // A device tree is a few levels deep; the bound only guards the loop.
    for (int level = 0; level < 16; ++level) {
        wchar_t instanceId[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDW(node, instanceId, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
            break;
        }
        wayUp.push_back(Utf8FromWide(instanceId));
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        node = parent;
    }
    const std::string usbDevice = UsbDeviceOnWayUp(wayUp);
    return usbDevice.empty() ? std::string() : FirstLocationPath(WideFromUtf8(usbDevice).c_str());
}

// hidapi's path is the HID collection's interface path
// (\\?\hid#vid_28de&pid_1102#...#{4d1e55b2-...}); its device node is the
// collection, below the USB device.
std::string UsbPortOfHidDevice(const std::string& hidPath) {
    const DeviceInfoList list = OwnDeviceInfoList(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVICE_INTERFACE_DATA hidInterface{};
    hidInterface.cbSize = sizeof hidInterface;
    if (!list || !SetupDiOpenDeviceInterfaceW(list.get(), WideFromUtf8(hidPath).c_str(), 0,
                                              &hidInterface)) {
        return {};
    }
    DWORD bytes = 0;
    SetupDiGetDeviceInterfaceDetailW(list.get(), &hidInterface, nullptr, 0, &bytes, nullptr);
    if (bytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return {};
    }
    std::vector<DWORD> storage(bytes / sizeof(DWORD) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA collection{};
    collection.cbSize = sizeof collection;
    if (!SetupDiGetDeviceInterfaceDetailW(list.get(), &hidInterface, detail, bytes, nullptr,
                                          &collection)) {
        return {};
    }
    return UsbPortOfDeviceNode(collection.DevInst);
}

std::vector<UsbDevice> ListUsbDevices(const std::string& onlyPort) {
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
        // The port first: with onlyPort, a device elsewhere is read no further.
        UsbDevice device;
        device.port = UsbPortOfDeviceNode(DeviceInfoData.DevInst);
        if (!onlyPort.empty() && device.port != onlyPort) {
            continue;
        }
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

// A COM port's device node is found by its name among the present ports.
std::string UsbPortOfComPort(const std::string& portName) {
    std::wstring name = WideFromUtf8(portName);
    if (name.rfind(L"\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    const DeviceInfoList lists[] = {
        OwnDeviceInfoList(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT)),
        OwnDeviceInfoList(SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))};
    for (const DeviceInfoList& list : lists) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; list && SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
            if (CompareStringOrdinal(PortNameOf(list.get(), device).c_str(), -1, name.c_str(), -1,
                                     TRUE) == CSTR_EQUAL) {
                return UsbPortOfDeviceNode(device.DevInst);
            }
        }
    }
    return {};
}

}  // namespace platform
