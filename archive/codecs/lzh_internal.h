// Shared by the LZH-family decoders (lzh_static.cpp, lzh_dynamic.cpp, lzs.cpp, arj_fastest.cpp):
// the output window and the match copy.
//
// The window is one linear buffer: the output is decoded at the write position with the history
// before it (the pre-fill, then the output so far). Before a piece could pass the buffer's end,
// the last `window` bytes (and any not yet handed over) move to its start, so a match never
// wraps and its copy needs no per-byte index masking. The buffer holds the window plus four
// pieces, so the moves cost at most a quarter of a byte copy per byte of output.
//
// Output leaves in pieces of exactly kPiece bytes, the last one shorter (never empty): a run of
// decoding ends at the end of the current piece, a match may pass it (by at most kMaxMatch bytes),
// and what passed is the start of the next piece. Only the end of the whole output clips a match.
#pragma once

#include "archive/codecs/byte_stream.h"
#include "archive/codecs/copy_match.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace dvl::codecs::lzh_detail {

constexpr size_t kPiece = size_t(64) << 10;
constexpr size_t kMaxMatch = 256; // the longest match of every method here
// The output side of a decoder: history, the piece being decoded, and its handing over.
class Window {
public:
    // `window`: the longest distance a match may have; `prefill`: bytes that stand before the
    // output as history (at most `window`); `size`: the bytes to decode.
    Window(ByteSink& out, uint32_t window, uint64_t size)
        : out_(out), window_(window), left_(size) {}

    // Allocates the buffer and lays the pre-fill; false when memory runs out.
    bool Init(std::span<const uint8_t> prefill = {}) {
        capacity_ = size_t(window_) + 4 * kPiece + kMaxMatch + kCopySlack;
        buffer_.reset(new (std::nothrow) uint8_t[capacity_]);
        if (!buffer_) return false;
        if (!prefill.empty()) std::memcpy(buffer_.get(), prefill.data(), prefill.size());
        oldest_ = buffer_.get();
        pos_ = flushed_ = oldest_ + prefill.size();
        return true;
    }

    // Bytes still to decode.
    uint64_t Left() const { return left_; }

    // Starts a run of decoding at Pos(): returns where it ends (the end of the piece, or of the
    // whole output when that comes first), making room first. Where a match of the run could pass
    // the end of the whole output, Limit() is that end (a match is cut there), else null.
    uint8_t* BeginRun() {
        if (pos_ + kPiece + kMaxMatch + kCopySlack > buffer_.get() + capacity_) Slide();
        const size_t room = kPiece - size_t(pos_ - flushed_); // pos_ - flushed_ < kPiece here
        limit_ = left_ <= room + kMaxMatch ? pos_ + size_t(left_) : nullptr;
        return pos_ + (left_ < room ? size_t(left_) : room);
    }
    uint8_t* Limit() const { return limit_; }
    uint8_t* Pos() const { return pos_; }

    // Ends a run at `pos` (which may pass the run's end by a match, never Limit()): hands over a
    // full piece. False when the sink refused it.
    bool EndRun(uint8_t* pos) {
        left_ -= uint64_t(pos - pos_);
        pos_ = pos;
        if (size_t(pos_ - flushed_) >= kPiece) {
            if (!out_.Write(flushed_, kPiece)) return false;
            flushed_ += kPiece;
        }
        return true;
    }

    // Whether a match at `at` may reach `distance` back: within the window and the history.
    struct Reach {
        const uint8_t* oldest;
        size_t window;
        [[gnu::always_inline]] bool operator()(const uint8_t* at, size_t distance) const {
            return distance <= window && distance <= size_t(at - oldest);
        }
    };
    // Valid until the next BeginRun; a copy in a hot loop's locals, which the byte stores of the
    // output cannot alias.
    Reach Reaches() const { return {oldest_, window_}; }
    [[gnu::always_inline]] bool Reaches(const uint8_t* at, size_t distance) const {
        return Reaches()(at, distance);
    }

    // Hands over what is left after the decoder ended with `status`.
    DecodeStatus Finish(DecodeStatus status) {
        if (pos_ > flushed_ && !out_.Write(flushed_, size_t(pos_ - flushed_)))
            return DecodeStatus::WriteFailed;
        flushed_ = pos_;
        return status;
    }

private:
    void Slide() {
        const size_t keep =
            std::max(std::min(size_t(pos_ - oldest_), size_t(window_)), size_t(pos_ - flushed_));
        uint8_t* const from = pos_ - keep;
        std::memmove(buffer_.get(), from, keep);
        const ptrdiff_t delta = from - buffer_.get();
        pos_ -= delta;
        flushed_ -= delta;
        oldest_ = buffer_.get();
    }

    ByteSink& out_;
    const uint32_t window_;
    uint64_t left_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    uint8_t* oldest_ = nullptr;  // the first byte of history
    uint8_t* pos_ = nullptr;     // where decoding goes on
    uint8_t* flushed_ = nullptr; // the first byte not handed over
    uint8_t* limit_ = nullptr;
};

} // namespace dvl::codecs::lzh_detail
