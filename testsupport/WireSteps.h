// A device's wire log read as the steps of its protocol, so that a test
// checks a controller update as "reboot", "start", "data 50 x 100",
// "checksum", "reset" instead of byte by byte. The decoder knows the codes by
// the simulator's names for them (sim/WireNames.h), never by the tool's.
//
// Reports the tool sent, by protocol:
//   controller (also the dongle's application and the Tivane's bootloader):
//     "reboot" (0x95 with the bootloader magic), "reset" (0x95 alone), "start",
//     "data N" (N image bytes), "checksum", "isp", "emc", "board revision R",
//     "serial TEXT"
//   the radio behind it: "radio begin", "radio data N", "radio checksum"
//   the SWD probe in it: "swd start", "swd write ADDRESS N", "swd read ADDRESS N",
//     "swd erase ADDRESS", "swd chip erase", "swd end"
//   the dongle's bootloader: "version", "write page P", then its 8 "page data"
//     reports, "select H" (bits 8-15 of a chunk), "read L" (bits 0-7), "reset"
// Replies the tool read: "ack S" (or "ack busy" for status 2), "swd read reply",
// "version MAJOR.MINOR", "chunk", "short reply (N bytes)", "reply refused".
//
// Numbers are decimal. A report that breaks its command's format (a wrong
// length byte, bytes behind the payload, an unknown code) reads "malformed"
// and its bytes in hexadecimal; a transfer the device refused carries
// " refused"; a run of the same step reads "STEP x N".
#pragma once

#include <cstddef>
#include <string>

#include "sim/SimWorld.h"
#include "testsupport/Transcript.h"

// The reports the tool sent the device, refused ones included, in order.
Transcript Steps(const sim::SimDevice& device);

// The same with the feature-report replies the tool read in between.
Transcript StepsWithReplies(const sim::SimDevice& device);

// Reads one device's wire log transfer by transfer (for listings that show
// each transfer with its time).
class WireDecoder {
public:
    explicit WireDecoder(const sim::SimDevice& device);
    // The step a transfer is, in the device's protocol; interrupt-in reports
    // read "status N" (one byte) or "input report (N bytes)".
    std::string Describe(const sim::WireRecord& record);

private:
    std::string DescribeSent(const sim::Bytes& report, bool taken);
    std::string DescribeReply(const sim::Bytes& reply) const;

    bool dongleBootloader;
    std::size_t pageDataLeft = 0;   // data reports still due after a page write
    std::uint8_t lastCommand = 0;   // the dongle's last command taken
};

// How many interrupt-in reports (the dongle's status bytes) the tool read.
std::size_t InputReportsRead(const sim::SimDevice& device);
