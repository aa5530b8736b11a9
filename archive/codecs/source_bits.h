// A bit reader over a ByteSource's chunks, in either bit order: least
// significant bit first (LZW) or most significant bit first (pack).
//
// The buffer is refilled eight bytes at a time where the chunk has them; such
// a load may leave bits of the next unread byte above (LSB) or below (MSB) the
// valid ones, and every refill writes that same byte over them, so they never
// corrupt a code. Once the input has ended nothing more is loaded, so past the
// valid bits the buffer holds zeros. The count never exceeds 63.
#pragma once

#include "archive/codecs/byte_stream.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace dvl::codecs {

enum class BitOrder { LsbFirst, MsbFirst };

template <BitOrder order> class SourceBits {
public:
    explicit SourceBits(ByteSource& in) : in_(&in) {}

    // Makes `n` (at most 56) bits available; false when the input ends first.
    [[gnu::always_inline]] bool Need(unsigned n) {
        if (count_ >= n) return true;
        if (end_ - p_ >= 8) { // the common refill, inline: it leaves at least 56 bits
            Load8();
            return true;
        }
        return Refill(n);
    }
    // Bits left; once the input has ended, all there will be.
    unsigned Count() const { return count_; }

    // LSB first: the next `n` (1..31) bits, taken.
    [[gnu::always_inline]] unsigned Take(unsigned n) requires(order == BitOrder::LsbFirst) {
        const unsigned v = unsigned(bits_) & ((1u << n) - 1);
        bits_ >>= n;
        count_ -= n;
        return v;
    }
    // LSB first: drops `n` bits, or everything up to the end of the input.
    void Skip(uint64_t n) requires(order == BitOrder::LsbFirst) {
        while (n > 0) {
            if (count_ == 0 && !Refill(1)) return;
            const unsigned t = n < count_ ? unsigned(n) : count_;
            bits_ >>= t;
            count_ -= t;
            n -= t;
        }
    }

    // MSB first: the next `n` (1..32) bits, left in place; zeros past the end.
    [[gnu::always_inline]] uint32_t Peek(unsigned n) const requires(order == BitOrder::MsbFirst) {
        return uint32_t(bits_ >> (64 - n));
    }
    [[gnu::always_inline]] void Drop(unsigned n) requires(order == BitOrder::MsbFirst) {
        bits_ <<= n;
        count_ -= n;
    }

private:
    static constexpr bool kMsb = order == BitOrder::MsbFirst;

    // Loads eight bytes from the chunk (which has them): at least 56 bits are then there.
    [[gnu::always_inline]] void Load8() {
        uint64_t word;
        std::memcpy(&word, p_, 8);
        if constexpr (kMsb == (std::endian::native == std::endian::little))
            word = __builtin_bswap64(word);
        bits_ |= kMsb ? word >> count_ : word << count_;
        p_ += (63 - count_) >> 3;
        count_ |= 56;
    }

    // Loads until `n` bits are there; false when the input ends first.
    bool Refill(unsigned n) {
        for (;;) {
            if (end_ - p_ >= 8) {
                Load8();
                return true;
            }
            while (p_ < end_ && count_ <= 56) {
                bits_ |= kMsb ? uint64_t(*p_++) << (56 - count_) : uint64_t(*p_++) << count_;
                count_ += 8;
            }
            if (count_ >= n) return true;
            if (ended_) return false;
            const std::span<const uint8_t> chunk = in_->Next();
            p_ = chunk.data();
            end_ = p_ + chunk.size();
            ended_ = chunk.empty();
        }
    }

    ByteSource* in_; // a pointer, so that a hot loop can work on a copy and assign it back
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    bool ended_ = false;
};

} // namespace dvl::codecs
