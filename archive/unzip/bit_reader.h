// Bit input and piece output shared by the shrink, reduce and implode decoders.
//
// BitReader returns what a reader holding one byte and fetching the next one the moment the held
// byte runs out would return (bits least significant first), but fills a 64-bit buffer from whole
// chunks. Invariants: count_ unread bits sit at the bottom of bits_; the other bits of the loaded_
// bytes have been handed out (Consumed()). In the one-byte reader the latest fetch is byte
// Consumed() / 8 (a fetch of -1 when that byte does not exist), which is what the progress
// emulation replays.
//
// PieceWriter collects output into pieces of 32768 bytes, keeps the latest 32768 bytes for
// copies, and replays the progress up to the current input position before each piece leaves.
#pragma once

#include "archive/codecs/inflate.h"
#include "archive/errors.h"
#include "archive/unzip/progress_meter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace dvl::unzip {

using codecs::ByteSink;
using codecs::ByteSource;

[[gnu::always_inline]] inline uint64_t LoadLe64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8); // little-endian host
    return v;
}

// Adds the whole bytes that fit in the buffer (count at most 56) from the 8 at next; the count
// of bytes taken. The bits above the count stay zero.
[[gnu::always_inline]] inline int TakeWord(uint64_t& bits, int& count, const uint8_t*& next) {
    int n = (64 - count) >> 3;
    int filled = count + 8 * n;
    uint64_t word = LoadLe64(next) << count;
    if (filled < 64) word &= (uint64_t(1) << filled) - 1;
    bits |= word;
    count = filled;
    next += n;
    return n;
}

class BitReader {
public:
    // A copy of the buffer that a decoder's fast loop keeps in registers. It refills from the
    // current chunk only; Resume hands it back before the reader is used again.
    struct Fast {
        uint64_t bits;
        int count;
        const uint8_t* next;
        const uint8_t* end;

        // Tops the buffer up to at least 57 bits; false when the chunk holds fewer than 8 more
        // bytes.
        [[gnu::always_inline]] bool Refill() {
            if (end - next < 8) return false;
            TakeWord(bits, count, next);
            return true;
        }
        // Tops the buffer up to at least 56 bits without a branch on the count; the chunk
        // must hold 8 more bytes. The bits above the count may then be set: they are the
        // stream's next bits, which the next top-up ORs in again. count: at most 63.
        [[gnu::always_inline]] void TopUp() {
            bits |= LoadLe64(next) << count;
            next += 7 - (count >> 3);
            count |= 56;
        }
        [[gnu::always_inline]] void Skip(int n) {
            bits >>= n;
            count -= n;
        }
    };
    Fast Borrow() const { return {bits_, count_, next_, end_}; }
    void Resume(const Fast& fast) {
        loaded_ += uint64_t(fast.next - next_);
        bits_ = fast.count < 64 ? fast.bits & ((uint64_t(1) << fast.count) - 1) : fast.bits;
        count_ = fast.count;
        next_ = fast.next;
    }

    BitReader(ByteSource& in, ProgressMeter* meter, uint64_t total)
        : in_(in), meter_(meter), total_(total) {}

    // n from 1 to 16. The value, or -1 once the input is used up while bits are still wanted
    // (and from then on). An entry without any data reads 0 every time.
    [[gnu::always_inline]] int ReadBits(int n) {
        if (count_ >= n) {
            int value = int(bits_ & ((1u << n) - 1));
            Skip(n);
            return value;
        }
        return ReadSlow(n);
    }

    // Loads bits until at least `want` (at most 56) are buffered or the input ends; the count.
    [[gnu::always_inline]] int Available(int want) {
        if (count_ < want) Load();
        return count_;
    }
    uint64_t Peek() const { return bits_; }
    // n must not exceed the buffered count.
    void Skip(int n) {
        bits_ >>= n;
        count_ -= n;
    }

    // True when the entry yielded no byte at all.
    bool NoByteCame() {
        if (loaded_ == 0) Load();
        return loaded_ == 0;
    }

    // Reports the progress of every fetch up to the current position.
    void SweepProgress() {
        if (!meter_ || loaded_ == 0) return;
        uint64_t latest = Consumed() / 8;
        if (latest >= loaded_) Load(); // does the latest byte exist?
        uint64_t fetched = std::min(latest + 1, loaded_);
        if (fetched > swept_) {
            meter_->Sweep(swept_, fetched, total_);
            swept_ = fetched;
        }
        if (latest >= loaded_ && !endFetched_) {
            endFetched_ = true;
            meter_->Evaluate(loaded_, total_, false);
        }
    }

    // One evaluation of the progress rule at the current position (after SweepProgress).
    void EvaluateProgress() {
        if (!meter_) return;
        SweepProgress();
        bool sawEnd = endFetched_ || emptyFetches_ > 0;
        meter_->Evaluate(sawEnd ? total_ : swept_, total_, false);
    }

private:
    uint64_t Consumed() const { return 8 * loaded_ - uint64_t(count_); }

    int ReadSlow(int n) {
        if (loaded_ == 0) {
            Load();
            if (loaded_ == 0) { // the fetch found nothing; the reader stays empty
                if (meter_) meter_->Evaluate(emptyFetches_ == 0 ? 0 : total_, total_, false);
                ++emptyFetches_;
                CountReadPastEnd();
                return 0;
            }
        }
        Load();
        if (count_ < n) { // the remaining bits, then the fetch that finds no byte
            Skip(count_);
            CountReadPastEnd();
            return -1;
        }
        return ReadBits(n);
    }

    // Decoders that stop at a stored size read on past the data's end as if
    // it held more bits; a stream needs only a few of them to finish its last
    // symbols, so a run on beyond that is damage (or a few bytes claiming
    // gigabytes), not data.
    void CountReadPastEnd() {
        constexpr uint32_t kMaxReadsPastEnd = 64;
        if (++readsPastEnd_ > kMaxReadsPastEnd) RaiseCode(kErrBadBlock);
    }

    void Load() {
        while (count_ <= 56) {
            if (end_ - next_ >= 8) {
                loaded_ += uint64_t(TakeWord(bits_, count_, next_));
                return;
            }
            if (next_ == end_) {
                if (ended_) return;
                std::span<const uint8_t> chunk = in_.Next();
                if (chunk.empty()) {
                    ended_ = true;
                    return;
                }
                next_ = chunk.data();
                end_ = chunk.data() + chunk.size();
            }
            bits_ |= uint64_t(*next_++) << count_;
            count_ += 8;
            ++loaded_;
        }
    }

    ByteSource& in_;
    ProgressMeter* meter_;
    uint64_t total_;
    const uint8_t* next_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool ended_ = false;
    uint64_t bits_ = 0;
    int count_ = 0;
    uint64_t loaded_ = 0;
    uint64_t swept_ = 0; // fetches whose progress has been replayed
    bool endFetched_ = false;
    uint64_t emptyFetches_ = 0;
    uint32_t readsPastEnd_ = 0;
};

// The output and, for the decoders with a window, its history: a ring of 65536 bytes that
// leaves in the 32768-byte halves, so the last 32768 bytes written are always there to copy
// from. The ring starts zeroed: a copy reaching before the first byte (at most 32768 back) reads
// zeros.
class PieceWriter {
public:
    static constexpr size_t kPiece = 32768;
    static constexpr size_t kRing = 2 * kPiece;
    static constexpr size_t kMaxDistance = kPiece;

    // A decoder's fast loop may write this far past the bytes it puts within a piece.
    static constexpr size_t kOvershoot = 16;

    PieceWriter(ByteSink& out, BitReader& reader)
        : out_(out), reader_(reader), ring_(kRing + kOvershoot, 0) {}

    [[gnu::always_inline]] void Put(uint8_t b) {
        ring_[position_ & (kRing - 1)] = char8_t(b);
        if ((++position_ & (kPiece - 1)) == 0) Flush();
    }
    // Copies `length` bytes from `distance` (1 to kMaxDistance) back, byte by byte, so that a
    // copy may overlap what it writes.
    void Copy(size_t distance, size_t length) {
        char8_t* ring = ring_.data();
        while (length > 0) {
            size_t n = std::min(length, kPiece - (position_ & (kPiece - 1)));
            size_t to = position_ & (kRing - 1), from = (position_ - distance) & (kRing - 1);
            if (from + n <= kRing) {
                for (size_t i = 0; i < n; ++i)
                    ring[to + i] = ring[from + i];
            } else {
                for (size_t i = 0; i < n; ++i)
                    ring[to + i] = ring[(from + i) & (kRing - 1)];
            }
            position_ += n;
            length -= n;
            if ((position_ & (kPiece - 1)) == 0) Flush();
        }
    }
    uint64_t Written() const { return position_; }

    // Direct writing for a decoder's fast loop, kept in registers: it writes within the
    // current piece without handing it on, and must leave more than kOvershoot bytes of the
    // piece free. Resume hands it back before the writer is used again.
    struct Fast {
        char8_t* ring;
        uint64_t position;

        // The position at which the current piece is full.
        uint64_t PieceEnd() const { return (position | (kPiece - 1)) + 1; }
        [[gnu::always_inline]] void Put(uint8_t b) { ring[position++ & (kRing - 1)] = char8_t(b); }
        // distance: 1 to kMaxDistance.
        [[gnu::always_inline]] void Copy(size_t distance, size_t length) {
            char8_t* to = ring + (position & (kRing - 1));
            size_t from = (position - distance) & (kRing - 1);
            position += length;
            if (distance >= 8 && from + length <= kRing) {
                // Each word reads bytes written before it. Two words at least: the copy may
                // spill up to 15 bytes past its end, into bytes not yet written (and, at the
                // source, into the slack after the ring).
                const char8_t* src = ring + from;
                std::memcpy(to, src, 8);
                std::memcpy(to + 8, src + 8, 8);
                for (size_t i = 16; i < length; i += 8)
                    std::memcpy(to + i, src + i, 8);
                return;
            }
            for (size_t i = 0; i < length; ++i)
                to[i] = ring[(from + i) & (kRing - 1)];
        }
    };
    Fast Borrow() { return {ring_.data(), position_}; }
    void Resume(const Fast& fast) { position_ = fast.position; }

    // Hands the piece on; a short write raises "Error writing to file".
    void Flush() {
        if (!FlushQuietly()) RaiseCode(kErrWritingFile);
    }
    // The same without raising, for the way out after an error.
    bool FlushQuietly() {
        reader_.SweepProgress();
        if (handed_ == position_) return true;
        size_t n = size_t(position_ - handed_);
        const auto* piece =
            reinterpret_cast<const uint8_t*>(ring_.data() + (handed_ & (kRing - 1)));
        handed_ = position_;
        return out_.Write(piece, n);
    }

private:
    ByteSink& out_;
    BitReader& reader_;
    std::vector<char8_t> ring_; // char8_t: stores to it alias nothing else
    uint64_t position_ = 0, handed_ = 0;
};

// Runs a decoder body; on an error hands over what was decoded before passing the error on.
template <class Body> void DecodeOrFlush(PieceWriter& out, Body&& body) {
    try {
        body();
    } catch (...) {
        out.FlushQuietly();
        throw;
    }
    out.Flush();
}

} // namespace dvl::unzip
