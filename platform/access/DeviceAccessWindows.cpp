// Finds HID devices of given USB IDs that are present but refuse to open as
// hidapi opens them (reading and writing, shared): Windows refuses a second
// open of a device that another program holds, or that the system keeps.
#include "platform/access/DeviceAccess.h"

#include <cwchar>
#include <cwctype>
#include <vector>

#include "platform/usb/DeviceInfoList.h"
#include "platform/text/WideText.h"
#include "platform/access/WindowsAccessText.h"

namespace platform {

namespace {

// The interface class of every HID device (what HidD_GetHidGuid returns).
const GUID kHidInterfaceClass = {0x4d1e55b2, 0xf16f, 0x11cf,
                                 {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The paths of the present HID interfaces, such as
// \\?\hid#vid_28de&pid_1042#...#{4d1e55b2-...}.
std::vector<std::wstring> HidInterfacePaths() {
    std::vector<std::wstring> paths;
    const DeviceInfoList list = OwnDeviceInfoList(SetupDiGetClassDevsW(
        &kHidInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) {
        return paths;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA hidInterface{};
        hidInterface.cbSize = sizeof hidInterface;
        if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &kHidInterfaceClass, index,
                                         &hidInterface)) {
            break;
        }
        DWORD bytes = 0;
        SetupDiGetDeviceInterfaceDetailW(list.get(), &hidInterface, nullptr, 0, &bytes, nullptr);
        if (bytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        std::vector<DWORD> storage(bytes / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(list.get(), &hidInterface, detail, bytes, nullptr,
                                             nullptr)) {
            paths.emplace_back(detail->DevicePath);
        }
    }
    return paths;
}

bool HasIds(std::wstring path, std::uint16_t vendorId, std::uint16_t productId) {
    wchar_t ids[24];
    std::swprintf(ids, sizeof ids / sizeof ids[0], L"vid_%04x&pid_%04x",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId));
    for (wchar_t& character : path) {
        character = static_cast<wchar_t>(std::towlower(character));
    }
    return path.find(ids) != std::wstring::npos;
}

// Opens the HID interface as hidapi first tries to (reading and writing,
// shared) and closes it again; the Win32 error when that fails.
DWORD OpenForReadingAndWriting(const std::wstring& path) {
    const HANDLE device =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CloseHandle(device);
    return ERROR_SUCCESS;
}

bool Refuses(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

// hidapi opens a device that refuses reading and writing without any access
// rights instead, so only an open of its own tells whether the tool may use it.
NodeAccess CheckHidAccess(const std::string& path) {
    const DWORD error = OpenForReadingAndWriting(WideFromUtf8(path));
    if (error == ERROR_SUCCESS) {
        return NodeAccess::Granted;
    }
    return Refuses(error) ? NodeAccess::Denied : NodeAccess::Unavailable;
}

// hidapi's listing opens each HID interface without access rights (which
// sends nothing to the device) and passes over one that does not open; the
// same open of the one path says whether the device is still there, without
// opening every HID interface of the system and asking each device for its
// strings.
std::optional<bool> HidDevicePresent(const std::string& path) {
    const HANDLE device = CreateFileW(WideFromUtf8(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(device);
    return true;
}

// Windows grants a serial port by opening it, not by permissions that could
// be read beforehand.
NodeAccess CheckSerialPortAccess(const std::string&) { return NodeAccess::Unknown; }

InaccessibleDevice DeniedNode(const std::string& node) { return WindowsDeniedNode(node); }

std::optional<InaccessibleDevice> FindInaccessibleHidDevice(std::uint16_t vendorId,
                                                            std::uint16_t productId) {
    for (const std::wstring& path : HidInterfacePaths()) {
        if (!HasIds(path, vendorId, productId)) {
            continue;
        }
        const DWORD error = OpenForReadingAndWriting(path);
        if (!Refuses(error)) {
            continue;
        }
        if (error == ERROR_ACCESS_DENIED) {
            return WindowsDeniedNode(WindowsUsbDeviceName(vendorId, productId));
        }
        return WindowsDeviceInUse(vendorId, productId);
    }
    return std::nullopt;
}

}  // namespace platform
