#include "platform/console/TransferProgress.h"

#include <algorithm>
#include <iostream>
#include <string>

#include "platform/console/Console.h"

namespace {

constexpr std::uint64_t kRedrawIntervalMs = 250;
constexpr int kBarCells = 24;
constexpr const char* kSaveCursor = "\0337";
constexpr const char* kRestoreCursor = "\0338";
constexpr const char* kClearToEndOfLine = "\033[K";

TransferObserver transferObserver = nullptr;

}  // namespace

void ObserveTransfers(TransferObserver observer) { transferObserver = observer; }

TransferProgress::TransferProgress(std::uint64_t totalBytes)
    : enabled(platform::StderrIsTerminal()), total(totalBytes) {}

TransferProgress::~TransferProgress() { Erase(); }

void TransferProgress::Advance(std::uint64_t bytes) {
    done += bytes;
    if (transferObserver != nullptr) {
        transferObserver(done, total);
    }
    if (!enabled) {
        return;
    }
    const std::uint64_t now = platform::MonotonicMs();
    if (drawn && done < total && now - lastDrawMs < kRedrawIntervalMs) {
        return;
    }
    lastDrawMs = now;
    Draw();
}

void TransferProgress::Erase() {
    if (drawn) {
        std::cerr << kClearToEndOfLine << std::flush;
        drawn = false;
    }
}

void TransferProgress::Draw() {
    const std::uint64_t shown = std::min(done, total);
    const int percent = total == 0 ? 100 : static_cast<int>(shown * 100 / total);
    const std::string counts = " " + std::to_string(percent) + "%  " + std::to_string(shown) + "/" +
                               std::to_string(total) + " bytes";
    const int filled = percent * kBarCells / 100;
    const std::string bar = " [" + std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarCells - filled), '.') + "]";
    // Never reach the last column: a wrap would scroll and lose the saved cursor.
    const int room = platform::StderrColumns() - 1 - column % std::max(1, platform::StderrColumns());
    std::string text = bar + counts;
    if (static_cast<int>(text.size()) > room) {
        text = counts;
    }
    if (static_cast<int>(text.size()) > room) {
        Erase();
        return;
    }
    std::cout << std::flush;
    std::cerr << kSaveCursor << text << kClearToEndOfLine << kRestoreCursor << std::flush;
    drawn = true;
}
