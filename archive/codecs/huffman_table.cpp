// Canonical Huffman codes to lookup tables.
//
// A code is read from the stream first bit first, so table indexes are the bit-reversed code. The
// first-level table has a fixed width per kind of code (so the fast loop masks with a constant);
// an entry for a shorter code is repeated at every index that shares its bits. A longer code goes
// through a link to a sub-table for its first-level prefix, sized to the deepest code under that
// prefix. Codes are placed in canonical order, so all codes sharing a prefix arrive together and
// one sub-table is open at a time. Only complete codes reach the sub-table step (the one tolerated
// incomplete code is a single 1-bit code), which is what bounds the table sizes in
// inflate_internal.h.
#include "archive/codecs/inflate_internal.h"

#include <algorithm>
#include <array>

namespace dvl::codecs::inflate_detail {
namespace {

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr uint32_t Entry(uint32_t flags, uint32_t codeBits, uint32_t extraBits, uint32_t value) {
    return (value << 16) | flags | (codeBits << 8) | (codeBits + extraBits);
}

// The entry of `symbol` for a code of `codeBits` bits within its table.
uint32_t SymbolEntry(TableKind kind, unsigned symbol, unsigned codeBits) {
    switch (kind) {
    case TableKind::kLitLen:
        if (symbol < 256) return Entry(kLiteral, codeBits, 0, symbol);
        if (symbol == 256) return Entry(kEndOfBlock, codeBits, 0, 0);
        if (symbol <= 285)
            return Entry(0, codeBits, kLengthExtra[symbol - 257], kLengthBase[symbol - 257]);
        return Entry(kInvalid, codeBits, 0, 0); // 286 and 287 take part in the code only
    case TableKind::kDistance:
        if (symbol < 30) return Entry(0, codeBits, kDistanceExtra[symbol], kDistanceBase[symbol]);
        return Entry(kInvalid, codeBits, 0, 0); // 30 and 31 likewise
    case TableKind::kCodeLength:
        return Entry(0, codeBits, 0, symbol);
    }
    return Entry(kInvalid, codeBits, 0, 0);
}

constexpr std::array<uint8_t, 256> MakeByteReversal() {
    std::array<uint8_t, 256> r{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = 0;
        for (int b = 0; b < 8; ++b)
            if (i >> b & 1) v |= 0x80u >> b;
        r[i] = uint8_t(v);
    }
    return r;
}
constexpr std::array<uint8_t, 256> kByteReversal = MakeByteReversal();

inline unsigned Reverse(unsigned code, unsigned bits) {
    unsigned r = (unsigned(kByteReversal[code & 0xFF]) << 8) | kByteReversal[(code >> 8) & 0xFF];
    return r >> (16 - bits);
}

} // namespace

bool BuildHuffmanTable(TableKind kind, const uint8_t* lengths, unsigned count, uint32_t* entries,
                       size_t capacity, unsigned* rootBits) {
    unsigned lengthCount[kMaxCodeBits + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        ++lengthCount[lengths[s]];
    lengthCount[0] = 0;

    unsigned root;
    switch (kind) {
    case TableKind::kLitLen:
        root = kLitLenRootBits;
        break;
    case TableKind::kDistance:
        root = kDistanceRootBits;
        break;
    default:
        root = kCodeLengthRootBits;
        break;
    }
    *rootBits = root;
    const unsigned rootSize = 1u << root;

    unsigned longest = kMaxCodeBits;
    while (longest > 0 && lengthCount[longest] == 0)
        --longest;
    if (longest == 0) { // absent code: every lookup is invalid, and needs no bits
        std::fill(entries, entries + rootSize, Entry(kInvalid, 0, 0, 0));
        return true;
    }

    // Kraft check: `unused` counts the free codes at each length.
    int unused = 1;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        unused = unused * 2 - int(lengthCount[len]);
        if (unused < 0) return false;
    }
    if (unused > 0 && longest > 1) return false;

    // Symbols sorted by code length, in symbol order within a length.
    unsigned offset[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len)
        offset[len + 1] = offset[len] + lengthCount[len];
    uint16_t sorted[288];
    for (unsigned s = 0; s < count; ++s)
        if (lengths[s]) sorted[offset[lengths[s]]++] = uint16_t(s);

    // First level, one length at a time: a table valid for codes up to len - 1 bits is doubled
    // (its entries repeat at stride 2^(len - 1)), then the len-bit codes are written once each.
    // Slots not yet claimed hold stale entries that later codes overwrite, since the code is
    // complete; a lone 1-bit code leaves its unused half as the invalid entry it starts with.
    entries[0] = Entry(kInvalid, 1, 0, 0);
    size_t filled = 1;
    unsigned code = 0, next = 0;
    unsigned len = 1;
    for (; len <= root; ++len, code <<= 1) {
        std::copy(entries, entries + filled, entries + filled);
        filled *= 2;
        for (unsigned i = 0; i < lengthCount[len]; ++i, ++code)
            entries[Reverse(code, len)] = SymbolEntry(kind, sorted[next++], len);
    }

    // Longer codes go to sub-tables, one per first-level prefix, each sized to the deepest code
    // under its prefix.
    unsigned remaining[kMaxCodeBits + 1];
    std::copy(std::begin(lengthCount), std::end(lengthCount), remaining);
    size_t used = rootSize;
    unsigned subPrefix = ~0u, subBits = 0;
    size_t subBase = 0;
    for (; len <= longest; ++len, code <<= 1) {
        for (unsigned i = 0; i < lengthCount[len]; ++i, ++code, --remaining[len]) {
            const unsigned reversed = Reverse(code, len);
            const unsigned prefix = reversed & (rootSize - 1);
            if (prefix != subPrefix) {
                // Grow the sub-table while the codes still to come at each length leave room.
                unsigned bits = len - root, depth = len;
                int room = 1 << bits;
                for (;;) {
                    room -= int(remaining[depth]);
                    if (room <= 0 || depth == longest) break;
                    ++depth;
                    ++bits;
                    room <<= 1;
                }
                if (used + (size_t(1) << bits) > capacity) return false;
                subPrefix = prefix;
                subBits = bits;
                subBase = used;
                used += size_t(1) << bits;
                entries[prefix] = uint32_t(subBase) << 16 | kLink | bits << 8 | root;
            }
            const unsigned subLen = len - root;
            const uint32_t e = SymbolEntry(kind, sorted[next++], subLen);
            for (unsigned at = reversed >> root; at < (1u << subBits); at += 1u << subLen)
                entries[subBase + at] = e;
        }
    }
    return true;
}

namespace {

struct FixedTables {
    uint32_t litLenEntries[kLitLenTableSize];
    uint32_t distanceEntries[kDistanceTableSize];
    HuffmanTable litLen, distance;

    FixedTables() {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        litLen.entries = litLenEntries;
        BuildHuffmanTable(TableKind::kLitLen, lengths, 288, litLenEntries, kLitLenTableSize,
                          &litLen.rootBits);
        // 32 five-bit codes: a complete code in which 30 and 31 decode as invalid.
        std::fill(lengths, lengths + 32, 5);
        distance.entries = distanceEntries;
        BuildHuffmanTable(TableKind::kDistance, lengths, 32, distanceEntries, kDistanceTableSize,
                          &distance.rootBits);
    }
};

const FixedTables& Fixed() {
    static const FixedTables tables;
    return tables;
}

} // namespace

const HuffmanTable& FixedLitLenTable() {
    return Fixed().litLen;
}
const HuffmanTable& FixedDistanceTable() {
    return Fixed().distance;
}

} // namespace dvl::codecs::inflate_detail
