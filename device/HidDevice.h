// One USB HID device of the product family, opened by vendor and product ID.
// Every transfer is one report-ID byte followed by reportLength payload
// bytes; this class hides that framing, so callers deal in payloads only.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <hidapi/hidapi.h>

#include "device/UsbIds.h"

constexpr std::uint32_t kQuorlReportLength = 64;

// The devices that an Open could not reach during this run, or that opened
// without access rights (held by another program) and then failed a
// transfer, in order and without repeats, so that a failing command can say
// why (see app/).
struct UsbId {
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool operator==(const UsbId&) const = default;
};
const std::vector<UsbId>& DevicesThatDidNotOpen();
void ForgetDevicesThatDidNotOpen();

// Told of every exchange with a device as it completes (each transfer and
// each open attempt): a station's worker passes it on as a sign that the
// unit's link is alive, however long the command stays silent. Null: no one.
using DeviceLinkObserver = void (*)();
void ObserveDeviceLink(DeviceLinkObserver observer);
void NoteDeviceLinkActivity();

class HidDevice {
public:
    // readsInputReports: the device's commands need its input reports
    // (hid_read), which a handle without access rights cannot carry.
    HidDevice(std::uint16_t vendorId, std::uint16_t productId, std::uint32_t reportLength,
              bool readsInputReports = false);
    virtual ~HidDevice();

    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Closes any open handle, then opens the first device with our IDs (the
    // one at the unit's port, under a unit limit: device/UnitLimit.h). A
    // device that hidapi could open only without access rights (Windows, held
    // by another program or by the system) still takes feature reports, so it
    // counts as open unless its commands read input reports.
    virtual bool Open();
    virtual void Close();
    // Count of report bytes received, the report-ID byte not counted; -1 on failure.
    virtual std::int32_t GetFeatureReport(std::uint8_t reportId, std::uint8_t* destination,
                                          std::uint32_t length);
    // Retries a refused report up to 100 times, 6 ms apart.
    virtual bool SetFeatureReport(std::uint8_t reportId, const std::uint8_t* payload,
                                  std::uint32_t length);
    virtual std::int32_t ReadReport(std::uint8_t reportId, std::uint8_t* destination,
                                    std::uint32_t length, std::int32_t timeoutMs);
    virtual bool WriteReport(std::uint8_t reportId, const std::uint8_t* payload,
                             std::uint32_t length);

    bool IsOpen() const { return handle != nullptr; }
    std::uint16_t ProductId() const { return productId; }

protected:
    // Runs one hidapi transfer on the open handle and returns its result.
    // After a failure, when the device is gone (unplugged, restarted), the
    // handle is closed, so that every later operation fails at once instead
    // of retrying against a device that is no longer there.
    template <class Call>
    int Transfer(Call&& call) {
        errno = 0;
        const int result = call(handle);
        NoteDeviceLinkActivity();
        if (result < 0) {
            AfterFailedTransfer();
        }
        return result;
    }

    std::uint16_t vendorId;
    std::uint16_t productId;
    hid_device* handle = nullptr;
    std::uint32_t reportLength;

private:
    // Closes the handle of a device that is gone; remembers a present one
    // that was opened without access rights, for the hint.
    void AfterFailedTransfer();
    // Whether the device behind the failed transfer is still there, asked
    // once: hidraw says "no such device" at once; else the platform tells
    // whether the open path is still there (one look at that device, not a
    // listing of all); where it cannot, a device whose path has left the
    // listing of its IDs is gone.
    bool StillPresent() const;

    std::string openPath;  // the open device's path, when hidapi tells it
    bool readsInputReports;
    bool openedWithoutAccess = false;
};
