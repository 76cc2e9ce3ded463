// Writing one raw image file into the radio's flash over SWD, the routine
// behind the full radio reflash (ReflashRadioOverSwd in app/Commands.h).
#pragma once

#include <cstdint>
#include <string>

class QuorlControllerRadioSWDDevice;

// Streams the file to the radio from the base address on, in 56-byte writes.
// Unless the flash was erased beforehand, each page the file's bytes occupy
// is erased just before its first write, except the page of an unaligned
// base, which also holds bytes the file does not own. Prints a "." for each
// page boundary the data reaches. 0 when the whole file was written, else -1.
int ProgramFileOverSwd(QuorlControllerRadioSWDDevice& device, std::uint32_t base,
                       const std::string& path, bool preErased);
