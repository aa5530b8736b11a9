// Unreduce: ZIP methods 2 to 5 (compression factor 1 to 4).
//
// Bytes are coded against the byte before them: each of the 256 preceding byte values has a set
// of up to 32 likely followers, and a follower costs its index in the set instead of 8 bits. The
// byte stream is then expanded: 144 starts a copy (144 0 is a literal 144) whose first byte
// holds the length in its low 8 - f bits and the distance's high part in the rest. Invariants:
// follower indexes are below 32 (5 bits at most); copies reach at most 4096 bytes back into the
// writer's history, zeroed at the start, so a copy before the first byte yields zeros; nothing
// beyond the entry's uncompressed size is written. A read past the end of the input counts as all
// one bits.
//
// Most of an entry decodes in a fast loop of whole expansion steps (a byte, an escaped marker or
// a copy), each symbol a single table lookup, while the bits of the longest step are buffered
// and its output fits the current output piece below the uncompressed size. The rest (the last
// bytes of each piece and of the entry, chunk ends, the end of the input) goes one symbol at a
// time through the expansion state machine. Both paths consume the same bits and write the same
// bytes, and pieces leave at the same input positions, so progress is unchanged.
#include "archive/errors.h"
#include "archive/unzip/bit_reader.h"
#include "archive/unzip/legacy_methods.h"

#include <algorithm>
#include <memory>
#include <new>

namespace dvl::unzip {

namespace {

static_assert(PieceWriter::kMaxDistance >= 4096, "the window is the writer's history");
constexpr int kMaxFollowers = 32;
constexpr uint8_t kMarker = 144;

// A buffered symbol decodes with one lookup by the preceding byte and its low 6 bits: the
// flag and up to 5 index bits. The table's rows are 64 entries, so a byte's row starts at the
// byte shifted by 6. An entry holds the bits the symbol takes (bits 0-5, so that they shift the
// buffer directly), the follower's row (6-13), which the next lookup adds its bits to, whether
// the symbol is a plain byte (14: the row bits are then 0) and, for one, the bits before it (15:
// 0 for an empty set, which codes every byte in 8 bits, else the flag).
constexpr int kLookupBits = 6;
constexpr uint32_t kRowMask = 0xFF << kLookupBits;
constexpr uint16_t kPlain = 1 << 14;
constexpr int kAfterFlagShift = 15;

constexpr uint32_t RowOf(uint8_t byte) {
    return uint32_t(byte) << kLookupBits;
}
constexpr uint8_t ByteOf(uint32_t row) {
    return uint8_t(row >> kLookupBits);
}

struct ReduceTables {
    uint8_t count[256] = {};
    uint8_t followers[256][kMaxFollowers] = {};
    uint16_t symbols[256 << kLookupBits] = {};
};

// Bits of a follower index for a set of n: the fewest that count n values.
int IndexBits(int n) {
    int bits = 1;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

int Bits(BitReader& in, int n) {
    int v = in.ReadBits(n);
    return v < 0 ? (1 << n) - 1 : v;
}

// The longest symbol (flag and byte) and the most a copy writes: a length byte of mask + 255
// with a mask of 0x7F, plus 3.
constexpr int kMaxSymbolBits = 9;
constexpr size_t kMaxCopy = 0x7F + 255 + 3;

class Unreducer {
public:
    Unreducer(ReduceTables& t, BitReader& in, PieceWriter& out, uint64_t size, int factor)
        : t_(t), in_(in), out_(out), size_(size), factor_(factor), lengthMask_(0xFF >> factor) {}

    void Run() {
        ReadFollowerSets();
        uint8_t last = 0;
        while (out_.Written() < size_) {
            if (state_ == 0) last = FastSteps(last);
            if (out_.Written() >= size_) break;
            uint8_t c = SlowSymbol(last);
            Expand(c);
            last = c;
        }
        in_.EvaluateProgress();
    }

private:
    void ReadFollowerSets() {
        for (int last = 255; last >= 0; --last) {
            int n = Bits(in_, 6);
            if (n > kMaxFollowers) RaiseCode(kErrBadBlock);
            t_.count[last] = uint8_t(n);
            for (int i = 0; i < n; ++i)
                t_.followers[last][i] = uint8_t(Bits(in_, 8));
            FillSymbols(uint8_t(last));
        }
    }

    void FillSymbols(uint8_t last) {
        int n = t_.count[last];
        int indexBits = IndexBits(n);
        for (uint32_t low = 0; low < (1 << kLookupBits); ++low) {
            uint16_t& e = t_.symbols[RowOf(last) | low];
            if (n == 0)
                e = kPlain | 8;
            else if (low & 1)
                e = 1 << kAfterFlagShift | kPlain | 9;
            else
                e = uint16_t(RowOf(t_.followers[last][(low >> 1) & ((1u << indexBits) - 1)]) |
                             uint32_t(1 + indexBits));
        }
    }

    // One symbol with every bit read on its own; the end of the input reads as one bits.
    uint8_t SlowSymbol(uint8_t last) {
        int n = t_.count[last];
        if (n == 0 || Bits(in_, 1) == 1) return uint8_t(Bits(in_, 8));
        return t_.followers[last][Bits(in_, IndexBits(n))];
    }

    // A symbol whose bits are buffered, after the byte of the row; the symbol's row. Rows
    // rather than bytes pass from lookup to lookup: each lookup waits for the one before.
    [[gnu::always_inline]] uint32_t BufferedSymbol(BitReader::Fast& in, uint32_t row) const {
        uint32_t e = t_.symbols[row | uint32_t(in.bits & ((1u << kLookupBits) - 1))];
        uint32_t next = e & kRowMask;
        if (e & kPlain) next = RowOf(uint8_t(in.bits >> (e >> kAfterFlagShift)));
        in.Skip(int(e & 63));
        return next;
    }

    // Whole expansion steps (a byte, an escaped marker or a copy) while the bits of the longest
    // step are buffered and its output fits the current piece below the uncompressed size.
    // Starts and ends in the normal state; the last symbol.
    uint8_t FastSteps(uint8_t last) {
        // Two steps of a byte, or a byte and the marker, value, length and distance.
        static_assert(kMaxSymbolBits * 5 <= 56);
        constexpr size_t kStepRoom = 1 + kMaxCopy + PieceWriter::kOvershoot + 1;
        BitReader::Fast in = in_.Borrow();
        PieceWriter::Fast out = out_.Borrow();
        const uint64_t limit = std::min(out.PieceEnd(), size_);
        // A top-up takes at most 63 buffered bits; the reader's own load may leave 64, and
        // then one slow symbol comes first.
        if (in.count > 63) return last;
        constexpr uint32_t kMarkerRow = RowOf(kMarker);
        uint32_t row = RowOf(last);
        while (out.position + kStepRoom <= limit && in.end - in.next >= 8) {
            in.TopUp();
            if ((row = BufferedSymbol(in, row)) != kMarkerRow) {
                out.Put(ByteOf(row));
                if ((row = BufferedSymbol(in, row)) != kMarkerRow) {
                    out.Put(ByteOf(row));
                    continue;
                }
            }
            row = MarkerStep(in, out);
        }
        in_.Resume(in);
        out_.Resume(out);
        return ByteOf(row);
    }

    // What follows a marker: an escaped marker or a copy; the last symbol's row.
    [[gnu::always_inline]] uint32_t MarkerStep(BitReader::Fast& in, PieceWriter::Fast& out) {
        uint32_t row = BufferedSymbol(in, RowOf(kMarker));
        uint8_t v = ByteOf(row);
        if (v == 0) {
            out.Put(kMarker);
            return row;
        }
        int length = v & lengthMask_;
        if (length == lengthMask_) length += ByteOf(row = BufferedSymbol(in, row));
        row = BufferedSymbol(in, row);
        out.Copy(Distance(v, ByteOf(row)), size_t(length) + 3);
        return row;
    }

    void Expand(uint8_t c) {
        switch (state_) {
        case 0:
            if (c == kMarker)
                state_ = 1;
            else
                Put(c);
            break;
        case 1:
            if (c == 0) {
                Put(kMarker);
                state_ = 0;
            } else {
                pending_ = c;
                length_ = c & lengthMask_;
                state_ = length_ == lengthMask_ ? 2 : 3;
            }
            break;
        case 2:
            length_ += c;
            state_ = 3;
            break;
        default:
            Copy(Distance(pending_, c), length_ + 3);
            state_ = 0;
        }
    }

    // 1 to 4096: the high part from the value byte, the low byte from the distance byte.
    size_t Distance(int value, uint8_t low) const {
        return size_t(((value >> (8 - factor_)) << 8) + low + 1);
    }

    void Put(uint8_t b) { out_.Put(b); }

    // distance: 1 to 4096, within the writer's history.
    void Copy(size_t distance, int length) {
        uint64_t room = size_ - out_.Written();
        out_.Copy(distance, std::min<uint64_t>(uint64_t(length), room));
    }

    ReduceTables& t_;
    BitReader& in_;
    PieceWriter& out_;
    uint64_t size_;
    int factor_;
    int lengthMask_;
    int state_ = 0;
    int pending_ = 0, length_ = 0;
};

} // namespace

void Unreduce(const LegacyEntry& entry, int factor) {
    std::unique_ptr<ReduceTables> tables;
    BitReader in(entry.input, entry.meter, entry.packedSize);
    std::unique_ptr<PieceWriter> out;
    try {
        tables = std::make_unique<ReduceTables>();
        out = std::make_unique<PieceWriter>(entry.output, in);
    } catch (const std::bad_alloc&) {
        return;
    }
    DecodeOrFlush(*out, [&] { Unreducer(*tables, in, *out, entry.unpackedSize, factor).Run(); });
}

} // namespace dvl::unzip
