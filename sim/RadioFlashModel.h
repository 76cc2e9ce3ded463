// The radio chip's flash as the SWD probe sees it: erased bytes read 0xFF,
// erasing works on whole 1024-byte pages, and programming can only clear
// bits (new = old & data), so data written over an unerased page comes out
// corrupted, as on the real chip.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/SimWorld.h"

namespace sim {

class RadioFlashModel {
public:
    static constexpr std::uint32_t kPageSize = 1024;
    static constexpr std::uint32_t kDefaultSize = 256 * 1024;

    explicit RadioFlashModel(std::uint32_t size = kDefaultSize);

    std::uint32_t Size() const { return size; }
    // false when the range runs outside the flash.
    bool Contains(std::uint32_t address, std::size_t length) const;

    // Programs bytes; false (nothing written) outside the flash. Bytes that
    // asked for a 1 over a 0 are counted as corrupted.
    bool Write(std::uint32_t address, const Bytes& data);
    // Erases the page holding the address; false outside the flash.
    bool ErasePage(std::uint32_t address);
    void EraseAll();

    // As an earlier firmware would have left it: every byte programmed.
    void Fill(const Bytes& content);
    Bytes Read(std::uint32_t address, std::size_t length) const;
    const Bytes& Contents() const { return Cells(); }

    // What happened to the flash, for tests to read.
    std::vector<std::uint32_t> pagesErased;   // page addresses, in order of erasing
    int chipErases = 0;
    std::uint64_t bytesWritten = 0;
    std::uint64_t corruptedBytes = 0;         // written bytes that did not come out as sent

private:
    // The cells, made on first use: a flash nobody touched is all erased, and
    // a bench of many simulated units should not pay for each one's flash.
    Bytes& Cells() const;

    std::uint32_t size;
    mutable Bytes memory;
};

}  // namespace sim
