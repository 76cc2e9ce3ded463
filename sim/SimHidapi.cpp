// hidapi's C functions over the simulated devices, with the conventions of
// the system the simulator was built for (HostConventions.h): hidapi 0.13 on
// Linux's hidraw back end, or hidapi 0.15's Windows back end.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include <hidapi/hidapi.h>

#include "sim/HostConventions.h"
#include "sim/SimWorld.h"

struct hid_device_ {
    sim::SimDevice* device;
    std::uint64_t generation;
    std::size_t collection;
    // Opened without access rights (Windows, for a device that refused
    // reading and writing): feature reports pass, reads and writes fail.
    bool withoutAccess;
    hid_device_info* info = nullptr;  // hid_get_device_info's, freed with the handle
};

namespace {

// The feature and output reports every device of the family declares.
constexpr size_t kDeclaredReportLength = 64;

// How long a device that stopped answering (hang-after) keeps its process waiting.
constexpr auto kHangLimit = std::chrono::seconds(120);

// A failed call: hidraw leaves the reason in errno, Windows' back end does not.
void SetErrno(int error) {
    if (sim::Host().setsErrno && !sim::World::Get().errnoWithheld) {
        errno = error;
    }
}

// A transfer that failed, counted: -1.
int FailedTransfer(int error) {
    SetErrno(error);
    ++sim::World::Get().failedTransfers;
    return -1;
}

// The device behind a handle, or null once it was unplugged, or for a read
// or write (needsAccess) on a handle without access rights: hidapi's Windows
// back end sends feature reports through the HID class driver's own calls,
// which need no access rights, and reads and writes as file I/O, which does.
sim::SimDevice* Live(hid_device* handle, bool needsAccess) {
    if (handle == nullptr || handle->device == nullptr || !handle->device->Present() ||
        handle->device->Generation() != handle->generation) {
        FailedTransfer(ENODEV);
        return nullptr;
    }
    if (handle->withoutAccess && needsAccess) {
        FailedTransfer(EACCES);
        return nullptr;
    }
    return handle->device;
}

// Report ID 0: the device receives the bytes after it; on Windows a short
// report is padded to the declared length, a long one cut to it.
sim::Bytes Payload(const unsigned char* data, size_t length) {
    sim::Bytes payload = length > 1 ? sim::Bytes(data + 1, data + length) : sim::Bytes{};
    if (sim::Host().padsShortReports) {
        payload.resize(kDeclaredReportLength, 0);
    }
    return payload;
}

// What a sending call returns on success: the length given; hid_write on
// Windows, the padded length it wrote.
int SentCount(size_t length, bool written) {
    if (written && sim::Host().padsShortReports) {
        return static_cast<int>(std::max(length, kDeclaredReportLength + 1));
    }
    return static_cast<int>(length);
}

// A device that refuses the user: hidraw's open fails; Windows' hid_open
// retries without access rights and hands out a handle that carries feature
// reports only.
hid_device* OpenHandle(sim::SimDevice& device, std::size_t collection) {
    sim::World& world = sim::World::Get();
    if (device.accessDenied && !sim::Host().opensWithoutAccess) {
        SetErrno(EACCES);
        world.RecordOpen(device.vendorId, device.productId, false);
        return nullptr;
    }
    world.RecordOpen(device.vendorId, device.productId, true);
    ++world.liveHandles;
    return new hid_device_{&device, device.Generation(), collection, device.accessDenied};
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

hid_device_info* DeviceInfo(const sim::SimDevice& device, std::size_t collection) {
    const sim::HidDescriptor& descriptor = device.Descriptor();
    const sim::HidUsage& usage = descriptor.usages.at(collection);
    const std::string path = device.Path(collection);
    auto* info = new hid_device_info{};
    if (!device.listedWithoutPath) {
        info->path = new char[path.size() + 1];
        std::memcpy(info->path, path.c_str(), path.size() + 1);
    }
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
    if (device == nullptr) {
        world.RecordOpen(vendor_id, product_id, false);
        SetErrno(ENOENT);
        return nullptr;
    }
    return OpenHandle(*device, 0);
}

hid_device* hid_open_path(const char* path) {
    sim::World& world = sim::World::Get();
    std::size_t collection = 0;
    sim::SimDevice* device = path != nullptr ? world.FindByPath(path, collection) : nullptr;
    if (device != nullptr && device->swapsNodeWithPort) {
        // The node went to another unit since it was listed.
        world.TakeNodeSwap(*device);
        device = world.FindByPath(path, collection);
    }
    if (device == nullptr) {
        SetErrno(ENOENT);
        return nullptr;
    }
    return OpenHandle(*device, collection);
}

// Every present device, in order of plugging, once per top-level collection
// (each with its own path on Windows); 0 matches any ID.
hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    sim::World& world = sim::World::Get();
    ++world.enumerations;
    hid_device_info* first = nullptr;
    hid_device_info** last = &first;
    for (const auto& device : world.devices) {
        if (world.Enumerates(*device) && (vendor_id == 0 || device->vendorId == vendor_id) &&
            (product_id == 0 || device->productId == product_id)) {
            for (std::size_t collection = 0; collection < device->Descriptor().usages.size();
                 ++collection) {
                *last = DeviceInfo(*device, collection);
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
        handle->info = DeviceInfo(*handle->device, handle->collection);
    }
    return handle->info;
}

int hid_send_feature_report(hid_device* handle, const unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle, false);
    if (device == nullptr) {
        return -1;
    }
    const auto taken = static_cast<std::int64_t>(device->setReportsTaken);
    if (taken == device->dieAfterReports) {
        std::abort();
    }
    if (taken == device->hangAfterReports) {
        // The device stops answering: the call does not return, and the
        // process stays silent until its station ends it. Past any station's
        // patience (60 s) it dies, so that nothing that forgets to end it
        // hangs.
        const auto limit = std::chrono::steady_clock::now() + kHangLimit;
        while (std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_until(limit);
        }
        std::abort();
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
        return FailedTransfer(EIO);
    }
    ++device->setReportsTaken;
    if (device->unplugAfterReports >= 0 &&
        device->setReportsTaken >= static_cast<std::uint64_t>(device->unplugAfterReports)) {
        device->unpluggedByFaultAtMs = sim::World::Get().NowMs();
        device->Unplug();
    }
    return SentCount(length, false);
}

int hid_get_feature_report(hid_device* handle, unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle, false);
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
        return FailedTransfer(EIO);
    }
    // The reply lands behind the report-ID byte; the rest of the buffer is
    // left as it was, and the count includes the report-ID byte (Windows'
    // driver counts the data alone, and hidapi adds the one).
    const size_t copied = std::min(reply->size(), length > 0 ? length - 1 : 0);
    std::copy(reply->begin(), reply->begin() + static_cast<long>(copied), data + 1);
    return static_cast<int>(copied + 1);
}

int hid_write(hid_device* handle, const unsigned char* data, size_t length) {
    sim::SimDevice* device = Live(handle, true);
    if (device == nullptr) {
        return -1;
    }
    sim::Bytes payload = Payload(data, length);
    const bool ok = device->OnWrite(payload);
    device->Record(sim::Transfer::Write, payload, ok);
    if (!ok) {
        return FailedTransfer(EIO);
    }
    return SentCount(length, true);
}

int hid_read_timeout(hid_device* handle, unsigned char* data, size_t length, int milliseconds) {
    sim::World& world = sim::World::Get();
    // A negative timeout blocks until a report comes; the simulator bounds it.
    const std::uint64_t limit = milliseconds < 0 ? 60000 : static_cast<std::uint64_t>(milliseconds);
    const std::uint64_t deadline = world.NowMs() + limit;
    for (;;) {
        sim::SimDevice* device = Live(handle, true);
        if (device == nullptr) {
            return -1;
        }
        if (std::optional<sim::Bytes> report = device->TakeInputReport()) {
            device->Record(sim::Transfer::Read, *report, true);
            // Windows hands over every report at its declared length.
            if (sim::Host().padsInputReports) {
                report->resize(device->InputReportLength(), 0);
            }
            // No report IDs: the data lands at buf[0..], cut to the buffer.
            const size_t copied = std::min(report->size(), length);
            std::memcpy(data, report->data(), copied);
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
