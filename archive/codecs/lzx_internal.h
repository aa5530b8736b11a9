// Shared between the LZX block driver (lzx.cpp), the table builder (lzx_huffman.cpp) and the
// symbol loop (lzx_symbols.cpp).
//
// Bit reader: `bits` holds the stream's next bits from its most significant bit down; `count` of
// them are loaded, and the bits below those are either zero or the stream's following bits
// (a refill may load part of a word it does not count yet; loading it again later ORs in the same
// bits at the same place). After Refill at least 48 bits are loaded: enough for a main code and a
// length code (16 bits each) together, or for an offset's extra bits and aligned code (17 + 7).
// Past the end of the data the reader loads zero words; Overrun tells whether a consumed bit lay
// there, which turns the result into Truncated.
//
// Table entries are 32-bit words:
//   bits 0-7   the code's length (bits to drop), whichever level the entry is in
//   bit 8      kLink: the entry points at a sub-table (bits 16-31 its offset)
//   bit 9      kInvalid: no code of the tree starts with these bits
//   bits 16-31 the symbol
// The first level is indexed by the next rootBits bits. A code longer than that goes through a
// link to a sub-table of 2^subBits entries indexed by the bits that follow, where subBits is the
// tree's longest code less rootBits, the same for every sub-table of the tree.
#pragma once

#include "archive/codecs/copy_match.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dvl::codecs::lzx_detail {

constexpr unsigned kMaxCodeBits = 16; // lengths are 0..16: changes are taken modulo 17
constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxPositionSlots = 50;
constexpr unsigned kMaxMainSymbols = kNumChars + 8 * kMaxPositionSlots;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;
constexpr size_t kFrameSize = 32768;

constexpr unsigned kMainRootBits = 12;
constexpr unsigned kLengthRootBits = 11;
constexpr unsigned kAlignedRootBits = 7; // aligned lengths are 3-bit fields: at most 7
constexpr unsigned kPretreeRootBits = 8;

// A complete code's sub-table prefix covers a full subtree of at least two codes, so at most
// symbols / 2 sub-tables of at most 2^(16 - root) entries exist.
constexpr size_t TableCapacity(unsigned rootBits, unsigned symbols) {
    return (size_t(1) << rootBits) +
           (rootBits < kMaxCodeBits ? size_t(symbols / 2) << (kMaxCodeBits - rootBits) : 0);
}

enum EntryFlags : uint32_t {
    kLink = 1u << 8,
    kInvalid = 1u << 9,
};

struct HuffmanTable {
    unsigned rootBits = 0;
    unsigned subBits = 0;
    uint32_t* entries = nullptr;
};

enum class BuildResult {
    kComplete,
    kEmpty, // every length 0: every lookup finds kInvalid
    kBad,   // over-subscribed or incomplete
};

// Builds the table of the canonical code of `lengths` (each 0..16) into `entries`, which holds
// TableCapacity(table.rootBits, count) words; sets table.subBits.
BuildResult BuildTable(const uint8_t* lengths, unsigned count, HuffmanTable& table,
                       size_t capacity);

[[gnu::always_inline]] inline uint32_t Lookup(const HuffmanTable& t, uint64_t bits) {
    uint32_t e = t.entries[bits >> (64 - t.rootBits)];
    if (e & kLink) e = t.entries[(e >> 16) + ((bits << t.rootBits) >> (64 - t.subBits))];
    return e;
}

struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t pos;   // next byte to load; may pass size (zero words)
    size_t start; // where bit reading began: word alignment counts from here
    uint64_t bits = 0;
    unsigned count = 0;

    BitReader(const uint8_t* d, size_t n, size_t from) : data(d), size(n), pos(from), start(from) {}

    [[gnu::always_inline]] void Refill() {
        if (count >= 48) return;
        if (pos <= size && size - pos >= 8) {
            uint64_t v;
            std::memcpy(&v, data + pos, 8); // little-endian host: words w0..w3 from the bottom
            v = (v >> 32) | (v << 32);
            v = ((v & 0xFFFF0000FFFF0000ull) >> 16) | ((v & 0x0000FFFF0000FFFFull) << 16);
            bits |= v >> count; // w0 first
            const unsigned words = (64 - count) >> 4;
            pos += 2 * words;
            count += 16 * words;
            return;
        }
        while (count <= 48) {
            uint32_t word = 0;
            if (pos < size) word = data[pos];
            if (pos + 1 < size) word |= uint32_t(data[pos + 1]) << 8;
            bits |= uint64_t(word) << (48 - count);
            pos += 2;
            count += 16;
        }
    }
    // The next n (0..32) bits; the caller has them loaded.
    [[gnu::always_inline]] uint32_t Peek(unsigned n) const {
        return uint32_t((bits >> 32) >> (32 - n));
    }
    [[gnu::always_inline]] void Drop(unsigned n) {
        bits <<= n;
        count -= n;
    }
    [[gnu::always_inline]] uint32_t Take(unsigned n) {
        const uint32_t v = Peek(n);
        Drop(n);
        return v;
    }
    // Refills, then takes n (0..32) bits.
    uint32_t Read(unsigned n) {
        Refill();
        return Take(n);
    }
    uint64_t Consumed() const { return uint64_t(pos - start) * 8 - count; }
    bool Overrun() const { return uint64_t(pos) * 8 - count > uint64_t(size) * 8; }
    // The byte position after skipping 1 to 16 bits to the next word boundary.
    size_t AlignedBytePosition() const { return start + size_t((Consumed() / 16 + 1) * 2); }
};

// The repeated offsets, carried across blocks and frames.
struct RepeatedOffsets {
    uint32_t r0 = 1, r1 = 1, r2 = 1;
};

// What the symbol loop needs of the block and the window.
struct SymbolContext {
    const HuffmanTable* main;
    const HuffmanTable* length;
    const HuffmanTable* aligned;
    const uint8_t* historyStart; // the earliest byte a match may copy from
    uint32_t windowSize;
};

// Decodes the symbols of a verbatim (kAligned false) or aligned offset block from `out` until
// exactly `end`. False on corrupt data, with `out` where decoding stopped.
template <bool kAligned>
bool DecodeSymbols(BitReader& reader, const SymbolContext& context, RepeatedOffsets& repeats,
                   uint8_t*& out, uint8_t* end);

} // namespace dvl::codecs::lzx_detail
