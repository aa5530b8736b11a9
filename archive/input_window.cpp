#include "archive/input_window.h"

#include "archive/library_state.h"

#include <algorithm>
#include <cstring>

namespace dvl {

namespace {

constexpr size_t kWindowSize = 64 * 1024;

} // namespace

size_t InputWindow::ReadAt(int64_t position, uint8_t* out, size_t n) {
    platform::File& input = Library().input;
    if (n >= kWindowSize) {
        input.Seek(position);
        return input.Read(out, n);
    }
    const bool inside = valid_ && position >= start_ && position - start_ <= int64_t(length_);
    // A window that ends short of its size ends at the end of the file.
    const bool covered =
        inside && (position + int64_t(n) <= start_ + int64_t(length_) || length_ < data_.size());
    if (!covered) {
        data_.resize(kWindowSize);
        valid_ = false;
        input.Seek(position);
        start_ = position;
        length_ = input.Read(data_.data(), data_.size());
        valid_ = true;
    }
    const size_t offset = size_t(position - start_);
    const size_t take = std::min(n, length_ - offset);
    std::memcpy(out, data_.data() + offset, take);
    return take;
}

} // namespace dvl
