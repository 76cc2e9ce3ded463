// Doubles of the tool's image profiles: device objects that are never opened
// and only answer for the layout of an image.
#pragma once

#include "device/QuorlControllerDevice.h"

// A controller's layout with the pad size a test or fuzz input chooses.
class PadSizeProfile : public QuorlControllerDevice {
public:
    explicit PadSizeProfile(int padSize)
        : QuorlControllerDevice(kControllerAppProductId), padSize(padSize) {}
    int GetChecksumPadSize() override { return padSize; }

private:
    int padSize;
};
