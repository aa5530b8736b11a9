// The match copy of the LZ77 decoders that keep their history in one linear
// buffer (LZX and the LZH family): word-sized steps that may overshoot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dvl::codecs {

// A match copy may write this many bytes of scratch past its end.
constexpr size_t kCopySlack = 16;

// Appends `length` bytes copied from `distance` (>= 1) back (the source starts before `out`); may
// write up to kCopySlack bytes of scratch past the new end. Overlapping copies repeat the pattern,
// as a byte-by-byte copy does.
[[gnu::always_inline]] inline uint8_t* CopyMatch(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* src = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        // Each 8-byte word reads bytes that lie wholly before the word it writes.
        do {
            uint64_t v;
            std::memcpy(&v, src, 8);
            std::memcpy(out, &v, 8);
            out += 8;
            src += 8;
        } while (out < end);
    } else if (distance == 1) {
        const uint64_t v = uint64_t(*src) * 0x0101010101010101ull;
        do {
            std::memcpy(out, &v, 8);
            out += 8;
        } while (out < end);
    } else {
        // One period of the pattern spread over a word, repeated at a stride that is a multiple
        // of the distance.
        for (size_t i = 0; i < 8; ++i)
            out[i] = src[i];
        uint64_t v;
        std::memcpy(&v, out, 8);
        const size_t stride = 8 / distance * distance;
        for (uint8_t* p = out + stride; p < end; p += stride)
            std::memcpy(p, &v, 8);
    }
    return end;
}

} // namespace dvl::codecs
