// Shared between the inflate block driver, the table builder and the fast loop.
//
// Table entries are 32-bit words:
//   bits 0-5   bits to drop: code length plus extra bits; for a link, the first-level width
//   bits 6-7   zero, so the whole low byte can serve as a shift count
//   bits 8-11  code length within its table (the extra bits start above it); for a link, the
//              sub-table's index width
//   bits 12-15 flags (kLiteral, kLink, kEndOfBlock, kInvalid; none: a length or a distance)
//   bits 16-31 literal byte, length or distance base, code-length symbol, or sub-table offset
// A code is at most 15 bits and carries at most 13 extra bits, so one entry never drops more than
// 28 bits; a length (20 bits at most) plus its distance (28) fit in the 56 bits that a refill
// guarantees.
//
// The output buffer holds 32 KB of history before the write position at all times, zero-filled
// when an entry starts, and every distance is at most 32768: a match source is always inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dvl::codecs::inflate_detail {

enum EntryFlags : uint32_t {
    kLiteral = 1u << 15,
    kLink = 1u << 14,
    kEndOfBlock = 1u << 13,
    kInvalid = 1u << 12,
};

inline uint32_t EntryDropBits(uint32_t e) {
    return e & 63;
}
inline uint32_t EntryCodeBits(uint32_t e) {
    return (e >> 8) & 0xF;
}
inline uint32_t EntryValue(uint32_t e) {
    return e >> 16;
}

enum class TableKind { kLitLen, kDistance, kCodeLength };

constexpr unsigned kLitLenRootBits = 11;
constexpr unsigned kDistanceRootBits = 8;
constexpr unsigned kCodeLengthRootBits = 7;
constexpr unsigned kMaxCodeBits = 15;

// A complete code's sub-table of 2^k entries holds at least k + 1 codes (its subtree is a full
// binary tree of depth k), so at most n / (k + 1) sub-tables of the largest k fit n symbols.
constexpr size_t TableCapacity(unsigned root, unsigned symbols) {
    unsigned sub = kMaxCodeBits - root;
    return (size_t(1) << root) + (size_t(1) << sub) * (symbols / (sub + 1) + 1);
}
constexpr size_t kLitLenTableSize = TableCapacity(kLitLenRootBits, 288);
constexpr size_t kDistanceTableSize = TableCapacity(kDistanceRootBits, 32);
constexpr size_t kCodeLengthTableSize = size_t(1) << kCodeLengthRootBits;

// The first level has the kind's fixed width (kLitLenRootBits and so on).
struct HuffmanTable {
    unsigned rootBits = 0;
    uint32_t* entries = nullptr;
};

// Builds the lookup table of a canonical code from its lengths (each 0..15). False when the code
// is over-subscribed, or incomplete with a longest length above 1 bit. All lengths 0 give an
// absent code whose every lookup is invalid.
bool BuildHuffmanTable(TableKind kind, const uint8_t* lengths, unsigned count, uint32_t* entries,
                       size_t capacity, unsigned* rootBits);

// The fixed block's tables, built once per process.
const HuffmanTable& FixedLitLenTable();
const HuffmanTable& FixedDistanceTable();

// Output slack past the write position that the fast loop and the match copy may touch: three
// literals, a 258-byte match and the overshoot of its 16-byte copies.
constexpr size_t kOutputMargin = 3 + 258 + 32 + 27;
// Input bytes past the read position the fast loop may load: two refills per iteration, each
// advancing at most 7 bytes and loading 8.
constexpr size_t kInputMargin = 16;

[[gnu::always_inline]] inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8); // little-endian host
    return v;
}
[[gnu::always_inline]] inline void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

// Appends `length` (3..258) bytes copied from `distance` (1..32768) back; may write up to 31
// bytes of scratch past the new end. Overlapping copies repeat the pattern byte for byte.
[[gnu::always_inline]] inline uint8_t* CopyMatch(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* src = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        // Each 8-byte word reads bytes that lie wholly before the word it writes.
        Store64(out, Load64(src));
        Store64(out + 8, Load64(src + 8));
        Store64(out + 16, Load64(src + 16));
        Store64(out + 24, Load64(src + 24));
        if (length > 32) {
            out += 32;
            src += 32;
            if (distance >= 16) {
                do {
                    std::memcpy(out, src, 16);
                    out += 16;
                    src += 16;
                } while (out < end);
            } else {
                do {
                    Store64(out, Load64(src));
                    out += 8;
                    src += 8;
                } while (out < end);
            }
        }
    } else if (distance == 1) {
        uint64_t v = uint64_t(*src) * 0x0101010101010101ull;
        do {
            Store64(out, v);
            out += 8;
        } while (out < end);
    } else {
        // Lay down one period-aligned word, then repeat it at a stride that is a multiple of the
        // distance, so every store starts at the pattern's first phase.
        for (int i = 0; i < 8; ++i)
            out[i] = src[i];
        const uint64_t v = Load64(out);
        const uint32_t stride = 8 / distance * distance;
        for (uint8_t* p = out + stride; p < end; p += stride)
            Store64(p, v);
    }
    return end;
}

// The fast loop's view of the decoder. It runs while `in` is below `inLimit` (at least
// kInputMargin bytes of the current chunk beyond it) and `out` is below `outLimit` (at least
// kOutputMargin bytes of buffer beyond it). Bits of `bitBuffer` above `bitCount` are either zero or
// the stream's next bits.
struct FastCursor {
    const uint8_t* in;
    const uint8_t* inLimit;
    uint64_t bitBuffer;
    unsigned bitCount;
    uint8_t* out;
    uint8_t* outLimit;
};

enum class FastExit { kLimits, kEndOfBlock, kInvalid };

// Decodes literal/length and distance codes until the end-of-block code (consumed), an invalid
// code or a limit.
FastExit DecodeFast(FastCursor& cursor, const HuffmanTable& litLen, const HuffmanTable& distance);

} // namespace dvl::codecs::inflate_detail
