// Reading the dongle bootloader's wire traffic in tests.
#pragma once

#include <string>
#include <vector>

#include "sim/DongleBootloaderModel.h"
#include "tests/TestSupport.h"

// A command as the dongle receives it: its bytes, then zeros to 64.
inline sim::Bytes DongleCommand(const std::string& hex) {
    sim::Bytes bytes = HexBytes(hex);
    bytes.resize(64, 0x00);
    return bytes;
}

inline std::vector<sim::Bytes> DongleCommands(const std::vector<std::string>& hex) {
    std::vector<sim::Bytes> commands;
    for (const std::string& command : hex) {
        commands.push_back(DongleCommand(command));
    }
    return commands;
}

// A page of the dongle's memory: the given bytes, erased flash behind them.
inline sim::Bytes DonglePage(const sim::Bytes& bytes) {
    sim::Bytes page = bytes;
    page.resize(sim::DongleBootloaderModel::kPageSize, 0xFF);
    return page;
}

// The status reports the tool read from the dongle.
inline std::size_t StatusReportsRead(const sim::SimDevice& device) {
    std::size_t count = 0;
    for (const sim::WireRecord& record : device.wire) {
        count += record.transfer == sim::Transfer::Read ? 1 : 0;
    }
    return count;
}

// What the dongle's memory should hold after an image was written: the
// image from address 0, erased flash behind it.
inline sim::Bytes DongleMemoryWith(const std::vector<std::uint8_t>& image) {
    sim::Bytes memory(sim::DongleBootloaderModel::kPages * sim::DongleBootloaderModel::kPageSize,
                      0xFF);
    std::copy(image.begin(), image.end(), memory.begin());
    return memory;
}
