// The entry bar of the RAR and ACE back ends: per-cent of the current entry,
// summed from the sizes of the data blocks the library reports.
#pragma once

#include <cstdint>

namespace dvl::dvl2 {

class EntryBar {
public:
    void Begin(int32_t unpackedSize) {
        progress_ = 0;
        size_ = unpackedSize;
    }
    // Adds one block; an entry of size 0 moves by the byte count instead, so
    // that it shows full.
    void Add(int64_t blockSize) {
        if (size_ == 0)
            progress_ += double(blockSize);
        else
            progress_ += double(blockSize) / double(size_) * 100.0;
    }
    double Progress() const { return progress_; }
    int32_t Size() const { return size_; }
    // Rounded to the nearest integer, a half to the even neighbour, and kept
    // within int so that a huge sum cannot overflow the conversion.
    int Position() const;

private:
    double progress_ = 0;
    int32_t size_ = 0;
};

} // namespace dvl::dvl2
