// Explode: ZIP method 6, literals and copies over a 4 KiB or 8 KiB window, with Shannon-Fano
// trees for the copy lengths, the high part of the distances and, with three trees, literals.
//
// Each tree is sent as runs of bit lengths; codes are assigned from the longest length down and
// inserted into a binary tree whose first stream bit is the code's most significant one (1 goes
// right). Decoding looks up the first 8 bits in a table built from the tree and walks the rest
// bit by bit. Invariants: a tree never has more symbols than its alphabet and never more internal
// nodes than it has room for (else "Bad block" or an ambiguous tree); copies reach at most the
// window size back into the writer's history, zeroed at the start, so a copy before the first
// byte yields zeros; nothing beyond the entry's
// uncompressed size is written. A read past the end of the input counts as all one bits.
#include "archive/errors.h"
#include "archive/unzip/bit_reader.h"
#include "archive/unzip/legacy_methods.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <vector>

namespace dvl::unzip {

namespace {

constexpr int kLookupBits = 8;
static_assert(PieceWriter::kMaxDistance >= 8192, "the window is the writer's history");

class ShannonFanoTree {
public:
    // symbols: 64 or 256; nodes 0 to symbols - 1 stand for the symbols themselves.
    explicit ShannonFanoTree(int symbols)
        : symbols_(symbols), left_(2 * symbols, -1), right_(2 * symbols, -1) {}

    void Read(BitReader& in) {
        struct Entry {
            uint8_t length, symbol;
            uint16_t code;
        };
        // On the stack: nothing is allocated once decoding has begun.
        std::array<Entry, 256> entries;
        int used = 0;
        int runs = Bits(in, 8) + 1;
        for (int r = 0; r < runs; ++r) {
            int b = Bits(in, 8);
            int count = (b >> 4) + 1, length = (b & 15) + 1;
            if (used + count > symbols_) RaiseCode(kErrBadBlock);
            for (; count > 0; --count, ++used)
                entries[size_t(used)] = {uint8_t(length), uint8_t(used), 0};
        }
        std::stable_sort(entries.begin(), entries.begin() + used,
                         [](const Entry& a, const Entry& b) { return a.length < b.length; });
        uint16_t code = 0, increment = 0;
        int previousLength = 0;
        for (size_t i = size_t(used); i-- > 0;) {
            code = uint16_t(code + increment);
            if (entries[i].length != previousLength) {
                previousLength = entries[i].length;
                increment = uint16_t(1u << (16 - previousLength));
            }
            entries[i].code = uint16_t(code >> (16 - entries[i].length));
        }
        for (int i = 0; i < used; ++i)
            Insert(entries[size_t(i)].code, entries[size_t(i)].length, entries[size_t(i)].symbol);
        BuildLookup();
    }

    int Decode(BitReader& in) const {
        int node = Root();
        if (in.Available(kLookupBits) >= kLookupBits) {
            uint32_t e = lookup_[in.Peek() & ((1u << kLookupBits) - 1)];
            in.Skip(int(e >> 16));
            node = int16_t(e & 0xFFFF);
            if (node < 0) RaiseCode(kErrAmbiguousTree);
        }
        while (node >= symbols_) {
            int bit = in.ReadBits(1);
            node = bit == 0 ? left_[node] : right_[node]; // -1 (no more input) counts as 1
            if (node < 0) RaiseCode(kErrAmbiguousTree);
        }
        return node;
    }

private:
    static int Bits(BitReader& in, int n) {
        int v = in.ReadBits(n);
        return v < 0 ? (1 << n) - 1 : v;
    }
    int Root() const { return 2 * symbols_ - 1; }

    void Insert(uint16_t code, int length, int symbol) {
        int node = Root();
        for (int bit = length - 1; bit > 0; --bit) {
            int& link = (code >> bit) & 1 ? right_[node] : left_[node];
            if (link < 0) {
                if (nextFree_ < symbols_) RaiseCode(kErrAmbiguousTree); // no room: not a code
                link = nextFree_--;
            } else if (link < symbols_) {
                RaiseCode(kErrAmbiguousTree);
            }
            node = link;
        }
        int& link = code & 1 ? right_[node] : left_[node];
        if (link >= 0) RaiseCode(kErrAmbiguousTree);
        link = symbol;
    }

    // Per 8-bit prefix: bits to skip (high half) and the node reached (a symbol, an internal
    // node to go on from, or -1 for an empty link).
    void BuildLookup() {
        for (uint32_t prefix = 0; prefix < (1u << kLookupBits); ++prefix) {
            int node = Root(), used = 0;
            while (node >= symbols_ && used < kLookupBits) {
                node = (prefix >> used) & 1 ? right_[node] : left_[node];
                ++used;
            }
            lookup_[prefix] = uint32_t(used) << 16 | uint16_t(int16_t(node));
        }
    }

    int symbols_;
    std::vector<int32_t> left_, right_;
    int nextFree_ = 2 * symbols_ - 2;
    uint32_t lookup_[1u << kLookupBits] = {};
};

class Exploder {
public:
    Exploder(BitReader& in, PieceWriter& out, const LegacyEntry& entry)
        : in_(in), out_(out), size_(entry.unpackedSize), literalTree_(entry.flags & 4),
          largeWindow_(entry.flags & 2), windowMask_(largeWindow_ ? 8191 : 4095), literals_(256),
          lengths_(64), distances_(64) {}

    void Run() {
        if (literalTree_) literals_.Read(in_);
        lengths_.Read(in_);
        distances_.Read(in_);
        const int minimumLength = literalTree_ ? 3 : 2;
        const int lowBits = largeWindow_ ? 7 : 6;
        while (out_.Written() < size_) {
            if (in_.ReadBits(1) != 0) { // -1 (no more input) counts as 1
                int literal = literalTree_ ? literals_.Decode(in_) : Bits(8);
                Put(uint8_t(literal));
                continue;
            }
            int low = Bits(lowBits);
            int distance = (low + (distances_.Decode(in_) << lowBits)) & windowMask_;
            int length = lengths_.Decode(in_);
            if (length == 63) length += Bits(8);
            length += minimumLength;
            Copy(distance + 1, length);
        }
    }

private:
    int Bits(int n) {
        int v = in_.ReadBits(n);
        return v < 0 ? (1 << n) - 1 : v;
    }

    void Put(uint8_t b) { out_.Put(b); }

    // distance: 1 to the window size, within the writer's history.
    void Copy(int distance, int length) {
        uint64_t room = size_ - out_.Written();
        out_.Copy(size_t(distance), std::min<uint64_t>(uint64_t(length), room));
    }

    BitReader& in_;
    PieceWriter& out_;
    uint64_t size_;
    bool literalTree_, largeWindow_;
    int windowMask_;
    ShannonFanoTree literals_, lengths_, distances_;
};

} // namespace

void Explode(const LegacyEntry& entry) {
    BitReader in(entry.input, entry.meter, entry.packedSize);
    std::unique_ptr<PieceWriter> out;
    std::unique_ptr<Exploder> exploder;
    try {
        out = std::make_unique<PieceWriter>(entry.output, in);
        exploder = std::make_unique<Exploder>(in, *out, entry);
    } catch (const std::bad_alloc&) {
        return;
    }
    DecodeOrFlush(*out, [&] { exploder->Run(); });
}

} // namespace dvl::unzip
