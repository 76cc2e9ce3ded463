// quorl-station over real devices.
#include "platform/console/ProgramArguments.h"
#include "station/StationProgram.h"

int main(int argc, char** argv) { return RunStation(platform::ProgramArguments(argc, argv)); }
