// The dictionary: a ring that holds every byte decoded since the last Reset(), of which the
// latest 4 MiB (the largest ACE dictionary) stay available to matches. The ring is twice that
// size so that the bytes of a chunk not yet delivered are never overwritten by a match.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace dvl::unace::detail {

class Window {
public:
    static constexpr int kMaxDictionaryBits = 22;
    static constexpr size_t kSize = size_t(2) << kMaxDictionaryBits;
    static constexpr size_t kMask = kSize - 1;

    Window() : ring_(new uint8_t[kSize + kCopyOvershoot]) {}

    void Reset() { total_ = 0; }
    // Bytes decoded since Reset().
    uint64_t Total() const { return total_; }

    [[gnu::always_inline]] void Put(uint8_t byte) { ring_[total_++ & kMask] = byte; }

    void Append(const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t at = total_ & kMask;
            const size_t n = std::min(size, kSize - at);
            std::memcpy(&ring_[at], data, n);
            total_ += n;
            data += n;
            size -= n;
        }
    }

    // Repeats `length` bytes from `distance` back (1 to 2^22, at most Total()); the source may
    // overlap what is written.
    [[gnu::always_inline]] void Copy(size_t distance, size_t length) {
        const size_t to = total_ & kMask;
        const size_t from = (total_ - distance) & kMask;
        total_ += length;
        uint8_t* ring = ring_.get();
        if (distance >= 8 && to + length <= kSize && from + length <= kSize) {
            // 8 bytes at a time; the last store may run up to 7 bytes past the match, into
            // bytes not yet written or into the overshoot area.
            for (size_t i = 0; i < length; i += 8)
                std::memcpy(ring + to + i, ring + from + i, 8);
            return;
        }
        for (size_t i = 0; i < length; ++i)
            ring[(to + i) & kMask] = ring[(from + i) & kMask];
    }

    // The bytes at positions [from, to) (at most kSize / 2 of them, still in the ring) as at
    // most two contiguous pieces, handed to piece(data, size).
    template <class Piece> bool ForEachPiece(uint64_t from, uint64_t to, Piece&& piece) const {
        while (from < to) {
            const size_t at = from & kMask;
            const size_t n = size_t(std::min<uint64_t>(to - from, kSize - at));
            if (!piece(&ring_[at], n)) return false;
            from += n;
        }
        return true;
    }

private:
    static constexpr size_t kCopyOvershoot = 8;
    std::unique_ptr<uint8_t[]> ring_;
    uint64_t total_ = 0;
};

} // namespace dvl::unace::detail
