// hidapi's C functions over the simulated devices, with the return
// conventions that hidapi 0.13 shows on Linux's hidraw back end.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include <hidapi/hidapi.h>

#include "sim/SimWorld.h"

struct hid_device_ {
    sim::SimDevice* device;
    std::uint64_t generation;
    hid_device_info* info = nullptr;  // hid_get_device_info's, freed with the handle
};

namespace {

// The device behind a handle, or null once it was unplugged.
sim::SimDevice* Live(hid_device* handle) {
    if (handle == nullptr || handle->device == nullptr || !handle->device->Present() ||
        handle->device->Generation() != handle->generation) {
        errno = ENODEV;
        return nullptr;
    }
    return handle->device;
}

sim::Bytes Payload(const unsigned char* data, size_t length) {
    // Report ID 0: the device receives the bytes after it.
    return length > 1 ? sim::Bytes(data + 1, data + length) : sim::Bytes{};
}

hid_device* OpenHandle(sim::SimDevice& device) {
    ++sim::World::Get().liveHandles;
    return new hid_device_{&device, device.Generation()};
}

wchar_t* CopyWide(const std::wstring& text) {
    wchar_t* copy = new wchar_t[text.size() + 1];
    std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A string the device does not give: hidraw reads the manufacturer and
// product from sysfs attributes that are then missing (null), and the serial
// number from an empty HID_UNIQ (an empty string).
wchar_t* CopyWideOrNull(const std::wstring& text) { return text.empty() ? nullptr : CopyWide(text); }

hid_device_info* DeviceInfo(const sim::SimDevice& device, const sim::HidUsage& usage) {
    const sim::HidDescriptor& descriptor = device.Descriptor();
    auto* info = new hid_device_info{};
    info->path = new char[device.path.size() + 1];
    std::memcpy(info->path, device.path.c_str(), device.path.size() + 1);
    info->vendor_id = device.vendorId;
    info->product_id = device.productId;
    info->serial_number = CopyWide(descriptor.serialNumber);
    info->release_number = descriptor.releaseNumber;
    info->manufacturer_string = CopyWideOrNull(descriptor.manufacturer);
    info->product_string = CopyWideOrNull(descriptor.product);
    info->usage_page = usage.page;
    info->usage = usage.usage;
    info->interface_number = descriptor.interfaceNumber;
    info->next = nullptr;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

}  // namespace

extern "C" {

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t*) {
    sim::World& world = sim::World::Get();
    sim::SimDevice* device = world.FindPresent(vendor_id, product_id);
    const bool opened = device != nullptr && !device->accessDenied;
    world.RecordOpen(vendor_id, product_id, opened);
    if (!opened) {
        errno = device == nullptr ? ENOENT : EACCES;
        return nullptr;
    }
    return OpenHandle(*device);
}

hid_device* hid_open_path(const char* path) {
    sim::World& world = sim::World::Get();
    for (auto& device : world.devices) {
        if (path != nullptr && device->path == path && world.Enumerates(*device)) {
            world.RecordOpen(device->vendorId, device->productId, !device->accessDenied);
            if (device->accessDenied) {
                errno = EACCES;
                return nullptr;
            }
            return OpenHandle(*device);
        }
    }
    errno = ENOENT;
    return nullptr;
}

// Every present device, in order of plugging, once per top-level collection;
// 0 matches any ID.
hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    sim::World& world = sim::World::Get();
    hid_device_info* first = nullptr;
    hid_device_info** last = &first;
    for (const auto& device : world.devices) {
        if (world.Enumerates(*device) && (vendor_id == 0 || device->vendorId == vendor_id) &&
            (product_id == 0 || device->productId == product_id)) {
            for (const sim::HidUsage& usage : device->Descriptor().usages) {
                *last = DeviceInfo(*device, usage);
                last = &(*last)->next;
            }
        }
    }
    return first;
}

void hid_free_enumeration(hid_device_info* devices) {
    while (devices != nullptr) {
        hid_device_info* next = devices->next;
        delete[] devices->path;
        delete[] devices->serial_number;
        delete[] devices->manufacturer_string;
        delete[] devices->product_string;
        delete devices;
        devices = next;
    }
}

void hid_close(hid_device* handle) {
    if (handle != nullptr) {
        --sim::World::Get().liveHandles;
        hid_free_enumeration(handle->info);
        delete handle;
    }
}

// What the device was when the handle was opened, as hidapi keeps it.
hid_device_info* hid_get_device_info(hid_device* handle) {
    if (handle == nullptr || handle->device == nullptr) {
        return nullptr;
    }
    if (handle->info == nullptr) {
        const sim::SimDevice& device = *handle->device;
        handle->info = DeviceInfo(device, device.Descriptor().usages.front());
    }
    return handle->info;
}

int hid_send_feature_report(hid_device* handle, const unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle);
    if (device == nullptr) {
        return -1;
    }
    sim::Bytes payload = Payload(data, length);
    bool ok = true;
    if (device->refuseSetReports > 0) {
        --device->refuseSetReports;
        ok = false;
    } else {
        ok = device->OnSetFeature(payload);
    }
    device->Record(sim::Transfer::SetFeature, payload, ok);
    if (!ok) {
        errno = EIO;
        return -1;
    }
    ++device->setReportsTaken;
    if (device->unplugAfterReports >= 0 &&
        device->setReportsTaken >= static_cast<std::uint64_t>(device->unplugAfterReports)) {
        device->unpluggedByFaultAtMs = sim::World::Get().NowMs();
        device->Unplug();
    }
    return static_cast<int>(length);
}

int hid_get_feature_report(hid_device* handle, unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle);
    if (device == nullptr) {
        return -1;
    }
    std::optional<sim::Bytes> reply;
    if (device->refuseGetReports > 0) {
        --device->refuseGetReports;
    } else {
        reply = device->OnGetFeature();
    }
    static const sim::Bytes kNoReply;
    device->Record(sim::Transfer::GetFeature, reply ? *reply : kNoReply, reply.has_value());
    if (!reply) {
        errno = EIO;
        return -1;
    }
    // The reply lands behind the report-ID byte; the rest of the buffer is
    // left as it was, and the count includes the report-ID byte.
    const size_t copied = std::min(reply->size(), length > 0 ? length - 1 : 0);
    std::copy(reply->begin(), reply->begin() + static_cast<long>(copied), data + 1);
    return static_cast<int>(copied + 1);
}

int hid_write(hid_device* handle, const unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle);
    if (device == nullptr) {
        return -1;
    }
    sim::Bytes payload = Payload(data, length);
    const bool ok = device->OnWrite(payload);
    device->Record(sim::Transfer::Write, payload, ok);
    if (!ok) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* handle, unsigned char* data, size_t length, int milliseconds) {
    sim::World& world = sim::World::Get();
    // A negative timeout blocks until a report comes; the simulator bounds it.
    const std::uint64_t limit = milliseconds < 0 ? 60000 : static_cast<std::uint64_t>(milliseconds);
    const std::uint64_t deadline = world.NowMs() + limit;
    for (;;) {
        sim::SimDevice* device = Live(handle);
        if (device == nullptr) {
            return -1;
        }
        if (std::optional<sim::Bytes> report = device->TakeInputReport()) {
            // No report IDs: the data lands at buf[0..], cut to the buffer.
            const size_t copied = std::min(report->size(), length);
            std::memcpy(data, report->data(), copied);
            device->Record(sim::Transfer::Read, *report, true);
            return static_cast<int>(copied);
        }
        if (world.NowMs() >= deadline) {
            return 0;
        }
        world.Advance(1);
    }
}

int hid_read(hid_device* handle, unsigned char* data, size_t length) {
    return hid_read_timeout(handle, data, length, -1);
}

}  // extern "C"
