// An owning handle for a list of Windows' device-information service
// (SetupAPI), released with SetupDiDestroyDeviceInfoList.
#pragma once

#include <memory>

#include <windows.h>
#include <setupapi.h>

namespace platform {

struct DeviceInfoListRelease {
    void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceInfoList = std::unique_ptr<void, DeviceInfoListRelease>;

// The list, or none when the service gave none.
inline DeviceInfoList OwnDeviceInfoList(HDEVINFO list) {
    return DeviceInfoList(list == INVALID_HANDLE_VALUE ? nullptr : list);
}

}  // namespace platform
