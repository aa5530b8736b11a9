// What the stream-codec fuzz targets share: input handed over in chunks whose
// sizes come from one selector byte, each chunk a copy of its own so that
// reading an earlier one after Next is a heap use-after-free, and output that
// must leave in pieces of a bounded size, only the last one shorter.
#pragma once

#include "archive/codecs/byte_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace dvl::fuzz {

// Below 64: one size, 1 to 64; below 128: a cycle of odd small sizes; else
// multiples of 512 bytes.
inline std::vector<size_t> ChunkSizes(uint8_t selector) {
    if (selector < 64) return {size_t(selector) + 1};
    if (selector < 128) return {1, 2, 3, 7, 16, size_t(selector)};
    return {size_t(selector - 127) * 512};
}

class ChunkedInput : public codecs::ByteSource {
public:
    ChunkedInput(const uint8_t* data, size_t size, std::vector<size_t> sizes)
        : data_(data), size_(size), sizes_(std::move(sizes)) {}
    std::span<const uint8_t> Next() override {
        const size_t n = std::min(sizes_[next_++ % sizes_.size()], size_ - pos_);
        chunk_.assign(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return chunk_;
    }

private:
    const uint8_t* data_;
    size_t size_, pos_ = 0, next_ = 0;
    std::vector<size_t> sizes_;
    std::vector<uint8_t> chunk_;
};

// Keeps up to `cap` bytes; aborts on an empty piece, one above `most`, or any
// piece after one below `least`.
class PieceCheckingOutput : public codecs::ByteSink {
public:
    PieceCheckingOutput(size_t least, size_t most, size_t cap)
        : least_(least), most_(most), cap_(cap) {}
    bool Write(const uint8_t* data, size_t n) override {
        if (n == 0 || n > most_ || lastShort_) std::abort();
        lastShort_ = n < least_;
        if (bytes.size() + n > cap_) return false;
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    std::vector<uint8_t> bytes;

private:
    size_t least_, most_, cap_;
    bool lastShort_ = false;
};

} // namespace dvl::fuzz
