#include "sim/ModelCatalog.h"

#include <array>

#include "sim/ControllerModel.h"
#include "sim/DongleAppModel.h"
#include "sim/DongleBootloaderModel.h"
#include "sim/ModelSettings.h"
#include "sim/TivaneModel.h"

namespace sim {

namespace {

template <class Model, ControllerModel::Mode kMode>
SimDevice& PlugIn(World& world) {
    return world.Add<Model>(kMode);
}

constexpr ControllerModel::Mode kApplication = ControllerModel::Mode::Application;
constexpr ControllerModel::Mode kBootloader = ControllerModel::Mode::Bootloader;

constexpr std::array kCatalog = {
    ModelEntry{
        "controller",
        "wired controller running its application (0x1102); settings busy=N start-status=S "
        "verify-status=S reboot-delay=MS fail-ack-reads=N short-acks=N malformed-acks=N "
        "long-acks=N ignore-reboot=1 serial-write-lost=1 radio-app=0 radio-bootloader=0 radio-verify-status=S "
        "swd-start-failures=N swd-fail-write-at=ADDR swd-fail-erase-at=ADDR "
        "swd-chip-erase-failures=N swd-flash-fill=BYTE serial=TEXT bootloader-serial=TEXT",
        PlugIn<ControllerModel, kApplication>, ApplyControllerSetting},
    ModelEntry{"controller-bootloader",
               "wired controller already in its USB bootloader (0x1002); settings as controller",
               PlugIn<ControllerModel, kBootloader>, ApplyControllerSetting},
    ModelEntry{"dongle-app",
               "wireless dongle running its application (0x1142), through which the "
               "controller's radio is reached; settings as controller other than swd-* "
               "(radio-app=0: no radio behind it)",
               [](World& world) -> SimDevice& { return world.Add<DongleAppModel>(); },
               ApplyControllerSetting},
    ModelEntry{"dongle-bootloader",
               "wireless dongle running its bootloader (0x1042); settings version=MAJOR.MINOR "
               "version-length=N frozen-status=1 silent=1 long-status=1 status-lag=N "
               "input-length=N (its descriptor's input report length, default 1) "
               "bad-readback=PAGE bad-readback-times=N corrupt-stored=1 guard=1 "
               "serial=TEXT (default none; bootloader-serial= names the same)",
               [](World& world) -> SimDevice& { return world.Add<DongleBootloaderModel>(); },
               ApplyDongleBootloaderSetting},
    ModelEntry{"tivane",
               "Tivane running its application, a USB serial port (0x2548/0x1001) that "
               "restarts into its HID bootloader (0x1071) on the byte 0xFE; settings "
               "restart-delay=MS (default 600) reboot-delay=MS port=NAME (default "
               "/dev/ttyACMn, COMn on Windows), serial=TEXT (its serial port's, and its "
               "bootloader's unless bootloader-serial= names another; default TV1C0093), and "
               "the controller's settings other than radio-* and swd-*; its serial port and "
               "its bootloader sit at one USB port (at=)",
               PlugIn<TivaneModel, kApplication>, ApplyTivaneSetting},
    ModelEntry{"tivane-bootloader",
               "Tivane already in its HID bootloader (0x1071); settings as tivane",
               PlugIn<TivaneModel, kBootloader>, ApplyTivaneSetting},
};

}  // namespace

std::span<const ModelEntry> ModelCatalog() { return kCatalog; }

const ModelEntry* FindModel(std::string_view name) {
    for (const ModelEntry& entry : kCatalog) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace sim
