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

struct ReduceTables {
    uint8_t count[256] = {};
    uint8_t followers[256][kMaxFollowers] = {};
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

class Unreducer {
public:
    Unreducer(ReduceTables& t, BitReader& in, PieceWriter& out, uint64_t size, int factor)
        : t_(t), in_(in), out_(out), size_(size), factor_(factor), lengthMask_(0xFF >> factor) {}

    void Run() {
        for (int last = 255; last >= 0; --last) {
            int n = Bits(in_, 6);
            if (n > kMaxFollowers) RaiseCode(kErrBadBlock);
            t_.count[last] = uint8_t(n);
            for (int i = 0; i < n; ++i)
                t_.followers[last][i] = uint8_t(Bits(in_, 8));
        }
        int indexBits[256];
        for (int b = 0; b < 256; ++b)
            indexBits[b] = IndexBits(t_.count[b]);
        uint8_t last = 0;
        while (out_.Written() < size_) {
            int n = t_.count[last];
            uint8_t c;
            if (in_.Available(9) >= 9) { // a whole symbol is buffered
                uint32_t bits = uint32_t(in_.Peek());
                if (n == 0) {
                    c = uint8_t(bits);
                    in_.Skip(8);
                } else if (bits & 1) {
                    c = uint8_t(bits >> 1);
                    in_.Skip(9);
                } else {
                    int b = indexBits[last];
                    c = t_.followers[last][(bits >> 1) & ((1u << b) - 1)];
                    in_.Skip(1 + b);
                }
            } else if (n == 0 || Bits(in_, 1) == 1) {
                c = uint8_t(Bits(in_, 8));
            } else {
                c = t_.followers[last][Bits(in_, indexBits[last])];
            }
            if (state_ == 0 && c != kMarker)
                Put(c);
            else
                Expand(c);
            last = c;
        }
        in_.EvaluateProgress();
    }

private:
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
        default: {
            int distance = ((pending_ >> (8 - factor_)) << 8) + c + 1;
            Copy(distance, length_ + 3);
            state_ = 0;
        }
        }
    }

    void Put(uint8_t b) { out_.Put(b); }

    // distance: 1 to 4096, within the writer's history.
    void Copy(int distance, int length) {
        uint64_t room = size_ - out_.Written();
        out_.Copy(size_t(distance), std::min<uint64_t>(uint64_t(length), room));
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
