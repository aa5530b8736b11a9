// The static-Huffman LZH methods: LHA -lh4- to -lh7-, ZOO's method 2, ARJ methods 1 to 3.
//
// A block is: a 16-bit count of the symbols it codes (0 meaning 65536, as the original 16-bit
// decoders took it), the code-length code ("pre-tree", 19 symbols: a 5-bit count, then each
// length in 3 bits, 7 meaning 7 plus a run of 1 bits up to a 0; after the third length, 2 bits
// give a run of zero lengths), the literal/length code (a 9-bit count of 510 symbols; pre-tree
// symbol 0 is one zero length, 1 is 3 + 4 bits of them, 2 is 20 + 9 bits, n > 2 is length
// n - 2), and the position code (a 4- or 5-bit count, lengths as for the pre-tree, no run).
// A count of zero is followed by the one symbol that the table then decodes from no bits.
// Symbols below 256 are literals; 256 + k copies k + 3 bytes from the distance that a position
// code p gives: p + 1 for p < 2, else 2^(p-1) + (p - 1 bits) + 1.
//
// Invariants:
// - Every code is complete, or empty (all lengths 0: a decode from it is Corrupt), or a single
//   symbol of zero bits: so every first-level entry and every sub-table entry is set.
// - Table entries are 32-bit words: the code's length in bits 0-7 and the symbol in bits 16-31;
//   or kLink and a sub-table's offset in bits 16-31. The first level is indexed by the next
//   kRoot bits, a sub-table by the bits that follow, up to the code's longest length.
// - In the fast loop the bit reader holds kSymbolBits bits at the top of each symbol: a
//   literal/length code (16), a position code (16) and its extra bits (15). Once the input has
//   ended the loop goes on checked, where a code that needs bits past the end is Truncated.
#include "archive/codecs/lzh.h"

#include "archive/codecs/lzh_internal.h"
#include "archive/codecs/source_bits.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace dvl::codecs {

using namespace lzh_detail;

namespace {

using BitReader = SourceBits<BitOrder::MsbFirst>;

constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kLiteralSymbols = 510; // 256 literals, lengths 3..256
constexpr unsigned kPretreeSymbols = 19;
constexpr unsigned kMaxPositionSymbols = 17;
constexpr unsigned kThreshold = 3;
constexpr unsigned kSymbolBits = 48;

constexpr unsigned kLiteralRoot = 12;
constexpr unsigned kSmallRoot = 8;
constexpr uint32_t kLink = 1u << 8;

// A complete code's sub-table prefixes each cover at least two codes: at most symbols / 2
// sub-tables, each of at most 2^(16 - root) entries.
constexpr size_t Capacity(unsigned root, unsigned symbols) {
    return (size_t(1) << root) + (size_t(symbols / 2) << (kMaxCodeBits - root));
}

struct Table {
    unsigned root = 0;
    unsigned longest = 0; // longest code (first level plus sub-table index)
    uint32_t mask = 0;    // of the sub-table index
    uint32_t* entries = nullptr;
    bool empty = false;
};

enum class Built { kOk, kEmpty, kBad };

Built BuildTable(Table& t, const uint8_t* lengths, unsigned count, size_t capacity) {
    unsigned lengthCount[kMaxCodeBits + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        ++lengthCount[lengths[s]]; // callers keep lengths at most kMaxCodeBits
    t.empty = lengthCount[0] == count;
    if (t.empty) return Built::kEmpty;

    int32_t left = 1;
    unsigned longest = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = 2 * left - int32_t(lengthCount[len]);
        if (left < 0) return Built::kBad;
        if (lengthCount[len]) longest = len;
    }
    if (left != 0) return Built::kBad;

    uint32_t next[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len)
        next[len + 1] = (next[len] + lengthCount[len]) << 1;

    const unsigned root = t.root;
    const unsigned subBits = longest > root ? longest - root : 0;
    t.longest = std::max(longest, root);
    t.mask = (1u << subBits) - 1;
    uint32_t* const e = t.entries;
    std::fill(e, e + (size_t(1) << root), 0u);
    size_t nextSub = size_t(1) << root;
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        const unsigned len = lengths[symbol];
        if (len == 0) continue;
        const uint32_t code = next[len]++;
        const uint32_t entry = uint32_t(symbol) << 16 | len;
        if (len <= root) {
            const size_t first = size_t(code) << (root - len);
            std::fill(e + first, e + first + (size_t(1) << (root - len)), entry);
            continue;
        }
        uint32_t& link = e[code >> (len - root)];
        if (!(link & kLink)) {
            if (nextSub + (size_t(1) << subBits) > capacity) return Built::kBad;
            link = uint32_t(nextSub) << 16 | kLink;
            nextSub += size_t(1) << subBits;
        }
        const size_t first =
            (link >> 16) + (size_t(code & ((1u << (len - root)) - 1)) << (longest - len));
        std::fill(e + first, e + first + (size_t(1) << (longest - len)), entry);
    }
    return Built::kOk;
}

// A table that decodes `symbol` from no bits.
void SingleSymbol(Table& t, unsigned symbol) {
    std::fill(t.entries, t.entries + (size_t(1) << t.root), uint32_t(symbol) << 16);
    t.longest = t.root;
    t.mask = 0;
    t.empty = false;
}

[[gnu::always_inline]] inline uint32_t Lookup(const Table& t, const BitReader& bits) {
    uint32_t e = t.entries[bits.Peek(t.root)];
    if (e & kLink) e = t.entries[(e >> 16) + (bits.Peek(t.longest) & t.mask)];
    return e;
}

struct State {
    uint32_t literalEntries[Capacity(kLiteralRoot, kLiteralSymbols)];
    uint32_t positionEntries[Capacity(kSmallRoot, kMaxPositionSymbols)];
    uint32_t pretreeEntries[Capacity(kSmallRoot, kPretreeSymbols)];
    uint8_t lengths[kLiteralSymbols];
    Table literal, position, pretree;
};

// Checked reads for the block header.
bool ReadBits(BitReader& bits, unsigned n, uint32_t& value) {
    if (!bits.Need(n)) return false;
    value = bits.Peek(n);
    bits.Drop(n);
    return true;
}

// A pre-tree or position code length: 3 bits, 7 extended by each 1 bit up to a 0.
DecodeStatus ReadLength(BitReader& bits, uint8_t& length) {
    uint32_t v;
    if (!ReadBits(bits, 3, v)) return DecodeStatus::Truncated;
    if (v == 7) {
        for (;;) {
            uint32_t bit;
            if (!ReadBits(bits, 1, bit)) return DecodeStatus::Truncated;
            if (!bit) break;
            if (++v > kMaxCodeBits) return DecodeStatus::Corrupt;
        }
    }
    length = uint8_t(v);
    return DecodeStatus::Ok;
}

// The pre-tree or the position code: a count of `countBits`, then lengths; `specialAfter` is
// where the 2-bit run of zero lengths comes (0: none).
DecodeStatus ReadSmallTable(BitReader& bits, Table& t, uint8_t* lengths, unsigned symbols,
                            unsigned countBits, unsigned specialAfter, size_t capacity) {
    uint32_t n;
    if (!ReadBits(bits, countBits, n)) return DecodeStatus::Truncated;
    if (n == 0) {
        uint32_t symbol;
        if (!ReadBits(bits, countBits, symbol)) return DecodeStatus::Truncated;
        if (symbol >= symbols) return DecodeStatus::Corrupt;
        SingleSymbol(t, symbol);
        return DecodeStatus::Ok;
    }
    if (n > symbols) return DecodeStatus::Corrupt;
    unsigned i = 0;
    while (i < n) {
        if (const DecodeStatus s = ReadLength(bits, lengths[i]); s != DecodeStatus::Ok) return s;
        if (++i == specialAfter) {
            uint32_t zeros;
            if (!ReadBits(bits, 2, zeros)) return DecodeStatus::Truncated;
            // The run may pass the count (an old encoder writes one when the count is 3): the
            // lengths there are zeros all the same.
            for (; zeros > 0; --zeros)
                lengths[i++] = 0;
        }
    }
    std::fill(lengths + i, lengths + symbols, uint8_t(0));
    return BuildTable(t, lengths, symbols, capacity) == Built::kBad ? DecodeStatus::Corrupt
                                                                    : DecodeStatus::Ok;
}

// Decodes one symbol of `t` checked against the bits left: Truncated past the end.
DecodeStatus ReadSymbol(BitReader& bits, const Table& t, unsigned& symbol) {
    bits.Need(kMaxCodeBits);
    if (t.empty) return DecodeStatus::Corrupt;
    const uint32_t e = Lookup(t, bits);
    if ((e & 0xFF) > bits.Count()) return DecodeStatus::Truncated;
    bits.Drop(e & 0xFF);
    symbol = e >> 16;
    return DecodeStatus::Ok;
}

DecodeStatus ReadLiteralTable(BitReader& bits, State& st) {
    uint32_t n;
    if (!ReadBits(bits, 9, n)) return DecodeStatus::Truncated;
    if (n == 0) {
        uint32_t symbol;
        if (!ReadBits(bits, 9, symbol)) return DecodeStatus::Truncated;
        if (symbol >= kLiteralSymbols) return DecodeStatus::Corrupt;
        SingleSymbol(st.literal, symbol);
        return DecodeStatus::Ok;
    }
    if (n > kLiteralSymbols) return DecodeStatus::Corrupt;
    unsigned i = 0;
    while (i < n) {
        unsigned c;
        if (const DecodeStatus s = ReadSymbol(bits, st.pretree, c); s != DecodeStatus::Ok) return s;
        if (c > 2) {
            st.lengths[i++] = uint8_t(c - 2);
            continue;
        }
        uint32_t run = 1;
        if (c == 1) {
            if (!ReadBits(bits, 4, run)) return DecodeStatus::Truncated;
            run += 3;
        } else if (c == 2) {
            if (!ReadBits(bits, 9, run)) return DecodeStatus::Truncated;
            run += 20;
        }
        // A run past the count ends there (its lengths would be zeros all the same).
        run = std::min(run, n - i);
        std::fill(st.lengths + i, st.lengths + i + run, uint8_t(0));
        i += run;
    }
    std::fill(st.lengths + n, st.lengths + kLiteralSymbols, uint8_t(0));
    const Built b = BuildTable(st.literal, st.lengths, kLiteralSymbols,
                               Capacity(kLiteralRoot, kLiteralSymbols));
    // Every symbol of the block needs the literal/length code.
    return b == Built::kOk ? DecodeStatus::Ok : DecodeStatus::Corrupt;
}

// The block header; `symbols` receives the block's symbol count.
DecodeStatus ReadBlockHeader(BitReader& bits, State& st, const LzhStaticVariant& v,
                             uint32_t& symbols) {
    uint32_t count;
    if (!ReadBits(bits, 16, count)) return DecodeStatus::Truncated;
    symbols = count == 0 ? 65536 : count;
    if (const DecodeStatus s = ReadSmallTable(bits, st.pretree, st.lengths, kPretreeSymbols, 5, 3,
                                              Capacity(kSmallRoot, kPretreeSymbols));
        s != DecodeStatus::Ok)
        return s;
    if (const DecodeStatus s = ReadLiteralTable(bits, st); s != DecodeStatus::Ok) return s;
    return ReadSmallTable(bits, st.position, st.lengths, unsigned(v.positionCodes),
                          unsigned(v.positionCodeBits), 0,
                          Capacity(kSmallRoot, kMaxPositionSymbols));
}

enum class RunEnd { kDone, kInputEnding, kCorrupt, kTruncated };

// Decodes symbols into `out` until `end` (passing it by a match, never `limit` if not null) or the
// block's end.
// Unchecked: stops with kInputEnding, before a symbol, once the input cannot give kSymbolBits.
template <bool kChecked>
RunEnd DecodeRun(BitReader& reader, const State& st, const Window& w, uint8_t*& out, uint8_t* end,
                 uint8_t* limit, uint32_t& symbolsLeft) {
    // Everything the loop touches lives in locals, which the output's byte stores cannot alias
    // (through the references they could, and would be reloaded after every literal).
    BitReader bits = reader;
    const Table literal = st.literal;
    const Table position = st.position;
    const Window::Reach reaches = w.Reaches();
    uint32_t blockLeft = symbolsLeft;
    uint8_t* p = out;
    RunEnd result = RunEnd::kDone;
    // In the checked loop, drops a code's bits or ends the run when they are not all there.
#define DVL_LZH_DROP(n)                                                                            \
    do {                                                                                           \
        if (kChecked && (n) > bits.Count()) {                                                      \
            result = RunEnd::kTruncated;                                                           \
            goto stop;                                                                             \
        }                                                                                          \
        bits.Drop(n);                                                                              \
    } while (0)
    while (p < end && blockLeft > 0) {
        if (!bits.Need(kSymbolBits) && !kChecked) {
            result = RunEnd::kInputEnding;
            break;
        }
        uint32_t e = Lookup(literal, bits);
        DVL_LZH_DROP(e & 0xFF);
        --blockLeft;
        const unsigned symbol = e >> 16;
        if (symbol < 256) {
            *p++ = uint8_t(symbol);
            continue;
        }
        size_t length = symbol - 256 + kThreshold;
        if (position.empty) {
            result = RunEnd::kCorrupt;
            break;
        }
        e = Lookup(position, bits);
        DVL_LZH_DROP(e & 0xFF);
        const unsigned code = e >> 16;
        size_t distance = code + 1;
        if (code > 1) {
            const unsigned extra = code - 1;
            const size_t low = bits.Peek(extra);
            DVL_LZH_DROP(extra);
            distance = (size_t(1) << extra) + low + 1;
        }
        if (!reaches(p, distance)) {
            result = RunEnd::kCorrupt;
            break;
        }
        if (limit && length > size_t(limit - p)) length = size_t(limit - p);
        p = CopyMatch(p, distance, length);
    }
stop:
#undef DVL_LZH_DROP
    reader = bits;
    symbolsLeft = blockLeft;
    out = p;
    return result;
}

bool ValidVariant(const LzhStaticVariant& v) {
    if (v.windowBits < 12 || v.windowBits > 16) return false;
    if (v.positionCodes < 1 || v.positionCodes > int(kMaxPositionSymbols)) return false;
    if (v.positionCodeBits < 4 || v.positionCodeBits > 5) return false;
    return v.windowSize <= (uint32_t(1) << 16);
}

} // namespace

LzhStaticVariant LhaStaticVariant(int lhMethodDigit) {
    switch (lhMethodDigit) {
    case 4:
        return {.windowBits = 12, .positionCodes = 14, .positionCodeBits = 4};
    case 6:
        return {.windowBits = 15, .positionCodes = 16, .positionCodeBits = 5};
    case 7:
        return {.windowBits = 16, .positionCodes = 17, .positionCodeBits = 5};
    default:
        return {.windowBits = 13, .positionCodes = 14, .positionCodeBits = 4};
    }
}

LzhStaticVariant ArjStaticVariant() {
    return {.windowBits = 15, .positionCodes = 17, .positionCodeBits = 5, .windowSize = 26624};
}

DecodeStatus DecodeLzhStatic(ByteSource& in, ByteSink& out, uint64_t size,
                             const LzhStaticVariant& variant) {
    if (!ValidVariant(variant)) return DecodeStatus::Corrupt;
    if (size == 0) return DecodeStatus::Ok;
    const uint32_t window =
        variant.windowSize ? variant.windowSize : uint32_t(1) << variant.windowBits;
    const std::unique_ptr<State> st(new (std::nothrow) State);
    if (!st) return DecodeStatus::NoMemory;
    st->literal = {.root = kLiteralRoot, .entries = st->literalEntries};
    st->position = {.root = kSmallRoot, .entries = st->positionEntries};
    st->pretree = {.root = kSmallRoot, .entries = st->pretreeEntries};
    Window w(out, window, size);
    if (!w.Init()) return DecodeStatus::NoMemory;

    BitReader bits(in);
    uint32_t blockLeft = 0;
    while (w.Left() > 0) {
        if (blockLeft == 0) {
            if (const DecodeStatus s = ReadBlockHeader(bits, *st, variant, blockLeft);
                s != DecodeStatus::Ok)
                return w.Finish(s);
        }
        uint8_t* const end = w.BeginRun();
        uint8_t* p = w.Pos();
        RunEnd r = DecodeRun<false>(bits, *st, w, p, end, w.Limit(), blockLeft);
        if (r == RunEnd::kInputEnding)
            r = DecodeRun<true>(bits, *st, w, p, end, w.Limit(), blockLeft);
        if (!w.EndRun(p)) return DecodeStatus::WriteFailed;
        if (r == RunEnd::kCorrupt) return w.Finish(DecodeStatus::Corrupt);
        if (r == RunEnd::kTruncated) return w.Finish(DecodeStatus::Truncated);
    }
    return w.Finish(DecodeStatus::Ok);
}

} // namespace dvl::codecs
