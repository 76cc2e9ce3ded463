// The dongle's memory as tests expect it: 256 pages of 512 bytes, erased to 0xFF.
#pragma once

#include "testsupport/Bytes.h"

// A page holding the given bytes, erased flash behind them.
Bytes DonglePage(const Bytes& bytes);

// The whole memory after an image was written: the image from address 0,
// erased flash behind it.
Bytes DongleMemoryWith(const Bytes& image);
