// A one-line progress bar on standard error while image data is transferred,
// drawn only when standard error is a terminal, so that scripts reading the
// tool's streams see exactly the same bytes as ever.
//
// The bar is drawn to the right of the cursor with the cursor saved and
// restored, so the cursor never moves: whatever the tool prints next (a
// "." mark, a message line) lands where it would have without the bar, once
// Erase has cleared it.
#pragma once

#include <cstdint>

// Someone besides the console who follows every transfer: a station's worker
// passes the counts on to its station. One at a time; null to stop.
using TransferObserver = void (*)(std::uint64_t done, std::uint64_t total);
void ObserveTransfers(TransferObserver observer);

class TransferProgress {
public:
    explicit TransferProgress(std::uint64_t totalBytes);
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // Counts bytes transferred and redraws, at most a few times a second.
    void Advance(std::uint64_t bytes);
    // Clears the bar; call before writing anything else to the console.
    void Erase();
    // Characters already standing on the cursor's line (progress marks), so
    // that the bar fits after them.
    void SetColumn(int column) { this->column = column; }

private:
    void Draw();

    bool enabled;
    bool drawn = false;
    std::uint64_t total;
    std::uint64_t done = 0;
    std::uint64_t lastDrawMs = 0;
    int column = 0;
};
