#include "devices/ListingProgram.h"

int main(int argc, char** argv) { return RunDeviceListing(argc, argv); }
