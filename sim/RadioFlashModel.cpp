#include "sim/RadioFlashModel.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;

}  // namespace

RadioFlashModel::RadioFlashModel(std::uint32_t size) : memory(size, kErased) {}

bool RadioFlashModel::Contains(std::uint32_t address, std::size_t length) const {
    return address <= memory.size() && length <= memory.size() - address;
}

bool RadioFlashModel::Write(std::uint32_t address, const Bytes& data) {
    if (!Contains(address, data.size())) {
        return false;
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::uint8_t& cell = memory[address + i];
        cell &= data[i];
        corruptedBytes += cell != data[i] ? 1 : 0;
    }
    bytesWritten += data.size();
    return true;
}

bool RadioFlashModel::ErasePage(std::uint32_t address) {
    const std::uint32_t page = address / kPageSize * kPageSize;
    if (!Contains(page, kPageSize)) {
        return false;
    }
    std::fill_n(memory.begin() + page, kPageSize, kErased);
    pagesErased.push_back(page);
    return true;
}

void RadioFlashModel::EraseAll() {
    std::fill(memory.begin(), memory.end(), kErased);
    ++chipErases;
}

void RadioFlashModel::Fill(const Bytes& content) {
    for (std::size_t i = 0; i < memory.size(); ++i) {
        memory[i] = content.empty() ? kErased : content[i % content.size()];
    }
}

Bytes RadioFlashModel::Read(std::uint32_t address, std::size_t length) const {
    if (!Contains(address, length)) {
        return {};
    }
    return Bytes(memory.begin() + address, memory.begin() + address + length);
}

}  // namespace sim
