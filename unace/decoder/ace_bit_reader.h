// The bit input of every compressed ACE stream: 32-bit little-endian words, each read from its
// most significant bit down. Bits sit left-aligned in a 64-bit buffer; a refill adds one word
// whenever 32 or fewer bits remain, so after Refill() at least 33 bits can be peeked.
//
// Past the end of the packed data the reader supplies zero words (a Huffman peek may look beyond
// the last code) and counts them as padding; Overrun() tells whether any padding bit has
// actually been consumed, which means the data ended too early.
#pragma once

#include "unace/decoder/ace_decoder.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace dvl::unace::detail {

class AceBitReader {
public:
    explicit AceBitReader(PackedInput& input);

    [[gnu::always_inline]] void Refill() {
        if (count_ > 32) return;
        if (end_ - next_ >= 4) {
            uint32_t word;
            std::memcpy(&word, next_, 4);
            next_ += 4;
            PushWord(LittleEndian(word));
        } else {
            RefillSlow();
        }
    }
    // n from 1 to 32, at most the buffered count (33 after Refill()).
    [[gnu::always_inline]] uint32_t Peek(int n) const { return uint32_t(bits_ >> (64 - n)); }
    [[gnu::always_inline]] void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    // n from 0 to 32.
    uint32_t Read(int n) {
        if (n == 0) return 0;
        Refill();
        const uint32_t value = Peek(n);
        Skip(n);
        return value;
    }
    bool Overrun() const { return count_ < padding_; }

private:
    static uint32_t LittleEndian(uint32_t word) {
        if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(word);
        return word;
    }
    [[gnu::always_inline]] void PushWord(uint32_t word) {
        bits_ |= uint64_t(word) << (32 - count_);
        count_ += 32;
    }
    void RefillSlow();

    PackedInput& input_;
    std::vector<uint8_t> buffer_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool inputEnded_ = false;
    uint64_t bits_ = 0;
    int count_ = 0;
    int64_t padding_ = 0; // zero bits appended beyond the data, still counted in count_
};

} // namespace dvl::unace::detail
