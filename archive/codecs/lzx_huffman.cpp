// Canonical Huffman codes to lookup tables for the LZX trees.
//
// Codes are assigned shortest first, and within one length in symbol order; the stream gives a
// code's most significant bit first, so the next bits of the reader index the table directly. A
// code no longer than the first level fills every entry that starts with it. A longer code lives
// in the sub-table of its first-level prefix; all sub-tables of a tree have the width of its
// longest code less the first level, so one lookup finds any code. Only complete codes are
// tabled: their prefixes each cover a full subtree, which bounds the sub-tables (TableCapacity)
// and leaves no entry unset.
#include "archive/codecs/lzx_internal.h"

#include <algorithm>

namespace dvl::codecs::lzx_detail {

BuildResult BuildTable(const uint8_t* lengths, unsigned count, HuffmanTable& table,
                       size_t capacity) {
    const unsigned root = table.rootBits;
    uint32_t* const entries = table.entries;
    std::fill(entries, entries + (size_t(1) << root), uint32_t(kInvalid));

    unsigned lengthCount[kMaxCodeBits + 1] = {};
    for (unsigned s = 0; s < count; ++s) {
        if (lengths[s] > kMaxCodeBits) return BuildResult::kBad;
        ++lengthCount[lengths[s]];
    }
    if (lengthCount[0] == count) {
        table.subBits = 0;
        return BuildResult::kEmpty;
    }

    // Kraft: the code space left after each length must never go negative, and must end at 0.
    int32_t left = 1;
    unsigned longest = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = 2 * left - int32_t(lengthCount[len]);
        if (left < 0) return BuildResult::kBad;
        if (lengthCount[len]) longest = len;
    }
    if (left != 0) return BuildResult::kBad;

    uint32_t nextCode[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len)
        nextCode[len + 1] = (nextCode[len] + lengthCount[len]) << 1;

    const unsigned subBits = longest > root ? longest - root : 0;
    table.subBits = subBits;
    size_t nextSub = size_t(1) << root;
    for (unsigned symbol = 0; symbol < count; ++symbol) {
        const unsigned len = lengths[symbol];
        if (len == 0) continue;
        const uint32_t code = nextCode[len]++;
        const uint32_t entry = (uint32_t(symbol) << 16) | len;
        if (len <= root) {
            const size_t first = size_t(code) << (root - len);
            std::fill(entries + first, entries + first + (size_t(1) << (root - len)), entry);
            continue;
        }
        uint32_t& link = entries[code >> (len - root)];
        if (!(link & kLink)) {
            if (nextSub + (size_t(1) << subBits) > capacity) return BuildResult::kBad;
            std::fill(entries + nextSub, entries + nextSub + (size_t(1) << subBits),
                      uint32_t(kInvalid));
            link = (uint32_t(nextSub) << 16) | kLink;
            nextSub += size_t(1) << subBits;
        }
        const unsigned below = len - root; // code bits inside the sub-table
        const size_t first =
            (link >> 16) + (size_t(code & ((1u << below) - 1)) << (subBits - below));
        std::fill(entries + first, entries + first + (size_t(1) << (subBits - below)), entry);
    }
    return BuildResult::kComplete;
}

} // namespace dvl::codecs::lzx_detail
