#include "sim/ModelSettings.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "sim/ControllerModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/TivaneModel.h"
#include "sim/WireNames.h"

namespace sim {

namespace {

long Number(const std::string& value) { return std::atol(value.c_str()); }

// A serial number as the scenario gives it (ASCII, as USB serial numbers are).
std::wstring WideSerial(const std::string& value) { return std::wstring(value.begin(), value.end()); }

bool ApplyRadioSetting(RadioModel& radio, const std::string& key, const std::string& value) {
    if (key == "radio-app") {
        radio.takenByApplication = Number(value) != 0;
    } else if (key == "radio-bootloader") {
        radio.takenByBootloader = Number(value) != 0;
    } else if (key == "radio-verify-status") {
        radio.verifyStatus = static_cast<std::uint16_t>(Number(value));
    } else {
        return false;
    }
    return true;
}

bool ApplySwdProbeSetting(SwdProbeModel& probe, const std::string& key, const std::string& value) {
    // Counts in decimal; addresses also as 0x... hexadecimal.
    const auto number = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
    if (key == "swd-start-failures") {
        probe.startFailures = static_cast<int>(number);
    } else if (key == "swd-fail-write-at") {
        probe.failWriteAt = number;
    } else if (key == "swd-fail-erase-at") {
        probe.failEraseAt = number;
    } else if (key == "swd-chip-erase-failures") {
        probe.chipEraseFailures = static_cast<int>(number);
    } else if (key == "swd-flash-fill") {
        // An earlier firmware in the radio: every byte programmed to this value.
        probe.flash.Fill({static_cast<std::uint8_t>(number)});
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ApplyCommonSetting(SimDevice& device, const std::string& key, const std::string& value,
                        std::string& problem) {
    const long long number = std::atoll(value.c_str());
    if (key == "refuse-set") {
        device.refuseSetReports = static_cast<int>(number);
    } else if (key == "refuse-get") {
        device.refuseGetReports = static_cast<int>(number);
    } else if (key == "unplug-after") {
        device.unplugAfterReports = number;
    } else if (key == "appear-at") {
        device.appearAtMs = static_cast<std::uint64_t>(number);
    } else if (key == "access-denied") {
        device.accessDenied = number != 0;
    } else if (key == "die-after") {
        device.dieAfterReports = number;
    } else if (key == "hang-after") {
        device.hangAfterReports = number;
    } else if (key == "node") {
        // The number in its HID path, as another process's world gave it.
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
            value.size() > 6) {
            problem = "\"" + value + "\" is not a node number";
        } else {
            device.busPlace = static_cast<std::size_t>(number);
        }
    } else if (key == "at" || key == "comes-back-at" || key == "swaps-node-with") {
        const std::optional<HubPort> port = ParseHubPort(value);
        if (!port) {
            problem = NotAHubPort(value);
        } else if (key == "at") {
            device.usbPort = *port;
        } else if (key == "comes-back-at") {
            device.comesBackAtPort = *port;
        } else {
            device.swapsNodeWithPort = *port;
        }
    } else {
        return false;
    }
    return true;
}

bool ApplyControllerSetting(SimDevice& device, const std::string& key, const std::string& value) {
    auto& controller = static_cast<ControllerModel&>(device);
    const long number = Number(value);
    if (key == "busy") {
        controller.busyPolls = static_cast<int>(number);
    } else if (key == "start-status") {
        controller.startStatus = static_cast<std::uint16_t>(number);
    } else if (key == "verify-status") {
        controller.verifyStatus = static_cast<std::uint16_t>(number);
    } else if (key == "reboot-delay") {
        controller.rebootDelayMs = static_cast<std::uint32_t>(number);
    } else if (key == "fail-ack-reads") {
        controller.ack.failReads = static_cast<int>(number);
    } else if (key == "short-acks") {
        controller.ack.shortReplies = static_cast<int>(number);
    } else if (key == "malformed-acks") {
        controller.ack.malformed = static_cast<int>(number);
    } else if (key == "long-acks") {
        controller.ack.longReplies = static_cast<int>(number);
    } else if (key == "ignore-reboot") {
        controller.ignoreReboot = number != 0;
    } else if (key == "serial-write-lost") {
        controller.serialWriteLost = number != 0;
    } else if (key == "serial") {
        // The bootloader enumerates with the same serial number unless told otherwise.
        controller.descriptor.serialNumber = WideSerial(value);
        if (!controller.bootloaderSerialGiven) {
            controller.bootloaderDescriptor.serialNumber = WideSerial(value);
        }
    } else if (key == "bootloader-serial") {
        controller.bootloaderDescriptor.serialNumber = WideSerial(value);
        controller.bootloaderSerialGiven = true;
    } else {
        return (controller.radio && ApplyRadioSetting(*controller.radio, key, value)) ||
               (controller.swdProbe && ApplySwdProbeSetting(*controller.swdProbe, key, value));
    }
    return true;
}

bool ApplyDongleBootloaderSetting(SimDevice& device, const std::string& key,
                                  const std::string& value) {
    auto& dongle = static_cast<DongleBootloaderModel&>(device);
    const long number = Number(value);
    if (key == "version") {
        // MAJOR.MINOR in decimal.
        const std::size_t dot = value.find('.');
        const long minor = dot == std::string::npos ? 0 : Number(value.substr(dot + 1));
        dongle.versionReply = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(minor)};
    } else if (key == "version-length") {
        dongle.versionReply.resize(static_cast<std::size_t>(std::max(0L, number)), 0x00);
    } else if (key == "frozen-status") {
        dongle.statusFrozen = number != 0;
    } else if (key == "silent") {
        dongle.silent = number != 0;
    } else if (key == "long-status") {
        dongle.longStatusReports = number != 0;
    } else if (key == "status-lag") {
        dongle.statusLagReports = static_cast<int>(number);
    } else if (key == "input-length") {
        dongle.descriptor.inputReportLength = static_cast<std::size_t>(number);
    } else if (key == "bad-readback") {
        dongle.badReadbackPage = static_cast<int>(number);
    } else if (key == "bad-readback-times") {
        dongle.badReadbackTimes = static_cast<int>(number);
    } else if (key == "corrupt-stored") {
        dongle.corruptStoredPage = number != 0;
    } else if (key == "serial" || key == "bootloader-serial") {
        // It has no application under this protocol: both name its one descriptor.
        dongle.descriptor.serialNumber = WideSerial(value);
    } else if (key == "guard") {
        if (number != 0) {
            dongle.Store(0, Bytes(kDongleBootGuard.begin(), kDongleBootGuard.end()));
        }
    } else {
        return false;
    }
    return true;
}

bool ApplyTivaneSetting(SimDevice& device, const std::string& key, const std::string& value) {
    auto& tivane = static_cast<TivaneModel&>(device);
    if (key == "restart-delay") {
        tivane.restartDelayMs = static_cast<std::uint32_t>(Number(value));
    } else if (key == "reboot-delay") {
        tivane.rebootDelayMs = static_cast<std::uint32_t>(Number(value));
    } else if (key == "port") {
        tivane.serial.serialPort = value;
    } else if (key == "serial") {
        // Its application's serial number is its serial port's.
        tivane.serial.serialNumber = value;
        return ApplyControllerSetting(device, key, value);
    } else {
        return ApplyControllerSetting(device, key, value);
    }
    return true;
}

}  // namespace sim
