// The device listing over simulated devices, to try it without hardware:
//   QUORL_SIM_DEVICES=controller,dongle-bootloader build/sim/quorl-devices
#include "devices/ListingProgram.h"
#include "sim/SimRun.h"

int main(int argc, char** argv) {
    return sim::RunOverSimulatedDevices(argc, argv, RunDeviceListing);
}
