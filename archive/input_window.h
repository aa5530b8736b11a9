// Reads of the input-archive slot through a window of the file, so that the
// many small reads of a header walk cost few system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dvl {

class InputWindow {
public:
    // Forgets what was read (another file is in the slot, or it changed).
    void Reset() { valid_ = false; }
    // Up to n bytes at the position; fewer only at the end of the file. A
    // failing read throws the file layer's IoError.
    size_t ReadAt(int64_t position, uint8_t* out, size_t n);

private:
    std::vector<uint8_t> data_;
    int64_t start_ = 0;
    size_t length_ = 0;
    bool valid_ = false;
};

} // namespace dvl
