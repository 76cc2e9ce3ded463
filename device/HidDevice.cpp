#include "device/HidDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "device/UnitLimit.h"
#include "platform/access/DeviceAccess.h"
#include "platform/Platform.h"

namespace {

constexpr int kFeatureReportAttempts = 100;
constexpr std::uint32_t kFeatureRetryPauseMs = 6;

std::vector<UsbId>& UnopenedDevices() {
    static std::vector<UsbId> devices;
    return devices;
}

// The transfer buffer of one report operation: report ID, then the payload
// cut to the report length, zero behind it.
std::vector<unsigned char> FrameReport(std::uint8_t reportId, const std::uint8_t* payload,
                                       std::uint32_t length, std::uint32_t reportLength) {
    std::vector<unsigned char> buffer(reportLength + 1, 0);
    buffer[0] = reportId;
    if (payload != nullptr) {
        std::memcpy(buffer.data() + 1, payload, std::min(length, reportLength));
    }
    return buffer;
}

// The device's IDs among those a failing command names, once.
void NoteUnreached(std::uint16_t vendorId, std::uint16_t productId) {
    const UsbId id{vendorId, productId};
    std::vector<UsbId>& unopened = UnopenedDevices();
    if (std::find(unopened.begin(), unopened.end(), id) == unopened.end()) {
        unopened.push_back(id);
    }
}

}  // namespace

const std::vector<UsbId>& DevicesThatDidNotOpen() { return UnopenedDevices(); }
void ForgetDevicesThatDidNotOpen() { UnopenedDevices().clear(); }

HidDevice::HidDevice(std::uint16_t vendorId, std::uint16_t productId, std::uint32_t reportLength,
                     bool readsInputReports)
    : vendorId(vendorId),
      productId(productId),
      reportLength(reportLength),
      readsInputReports(readsInputReports) {}

HidDevice::~HidDevice() { HidDevice::Close(); }

namespace {
DeviceLinkObserver linkObserver = nullptr;
}  // namespace

void ObserveDeviceLink(DeviceLinkObserver observer) { linkObserver = observer; }

void NoteDeviceLinkActivity() {
    if (linkObserver != nullptr) {
        linkObserver();
    }
}

bool HidDevice::Open() {
    Close();
    NoteDeviceLinkActivity();
    // In a process limited to one unit, only the device at its port.
    handle = ActiveUnitLimit() != nullptr ? OpenAtUnitPort(vendorId, productId)
                                          : hid_open(vendorId, productId, nullptr);
    if (handle != nullptr) {
        const hid_device_info* info = hid_get_device_info(handle);
        openPath = info != nullptr && info->path != nullptr ? info->path : "";
        // hidapi on Windows opens a device that refuses reading and writing
        // (another program holds it, or the system keeps it) without access
        // rights: its feature reports still pass, its input reports do not.
        openedWithoutAccess =
            !openPath.empty() && platform::CheckHidAccess(openPath) == platform::NodeAccess::Denied;
        if (openedWithoutAccess && readsInputReports) {
            Close();
        }
    }
    if (handle == nullptr) {
        NoteUnreached(vendorId, productId);
    }
    return handle != nullptr;
}

void HidDevice::Close() {
    if (handle != nullptr) {
        hid_close(handle);
        handle = nullptr;
    }
}

void HidDevice::AfterFailedTransfer() {
    if (!StillPresent()) {
        Close();
    } else if (openedWithoutAccess) {
        NoteUnreached(vendorId, productId);
    }
}

bool HidDevice::StillPresent() const {
    if (errno == ENODEV) {
        return false;
    }
    if (!openPath.empty()) {
        if (const std::optional<bool> present = platform::HidDevicePresent(openPath)) {
            return *present;
        }
    }
    hid_device_info* listed = hid_enumerate(vendorId, productId);
    bool present = false;
    for (const hid_device_info* info = listed; info != nullptr && !present; info = info->next) {
        // Without a path to compare, any device with the IDs counts.
        present = openPath.empty() || (info->path != nullptr && openPath == info->path);
    }
    hid_free_enumeration(listed);
    return present;
}

std::int32_t HidDevice::GetFeatureReport(std::uint8_t reportId, std::uint8_t* destination,
                                         std::uint32_t length) {
    if (handle == nullptr) {
        return -1;
    }
    std::vector<unsigned char> buffer = FrameReport(reportId, nullptr, 0, reportLength);
    const int received = Transfer([&](hid_device* device) {
        return hid_get_feature_report(device, buffer.data(), buffer.size());
    });
    if (received < 0) {
        return -1;
    }
    std::memcpy(destination, buffer.data() + 1, std::min(length, reportLength));
    // hidapi counts the report-ID byte in front of the data; callers count data bytes.
    return received > 0 ? received - 1 : 0;
}

bool HidDevice::SetFeatureReport(std::uint8_t reportId, const std::uint8_t* payload,
                                 std::uint32_t length) {
    if (handle == nullptr) {
        return false;
    }
    const std::vector<unsigned char> buffer = FrameReport(reportId, payload, length, reportLength);
    for (int attemptsLeft = kFeatureReportAttempts;;) {
        if (Transfer([&](hid_device* device) {
                return hid_send_feature_report(device, buffer.data(), buffer.size());
            }) != -1) {
            return true;
        }
        // A refusing device gets its retries; a vanished one does not.
        if (!IsOpen() || --attemptsLeft == 0) {
            return false;
        }
        platform::SleepMs(kFeatureRetryPauseMs);
    }
}

std::int32_t HidDevice::ReadReport(std::uint8_t reportId, std::uint8_t* destination,
                                   std::uint32_t length, std::int32_t timeoutMs) {
    if (handle == nullptr) {
        return -1;
    }
    std::vector<unsigned char> buffer = FrameReport(reportId, nullptr, 0, reportLength);
    const int received = Transfer([&](hid_device* device) {
        return hid_read_timeout(device, buffer.data(), buffer.size(), timeoutMs);
    });
    if (received < 0) {
        return -1;
    }
    std::memcpy(destination, buffer.data() + 1, std::min(length, reportLength));
    return received;
}

bool HidDevice::WriteReport(std::uint8_t reportId, const std::uint8_t* payload,
                            std::uint32_t length) {
    if (handle == nullptr) {
        return false;
    }
    const std::vector<unsigned char> buffer = FrameReport(reportId, payload, length, reportLength);
    if (Transfer([&](hid_device* device) { return hid_write(device, buffer.data(), buffer.size()); }) <
        0) {
        return false;
    }
    return true;
}
