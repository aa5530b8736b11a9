// The fast loop: literal/length and distance codes while input and output room are plentiful.
//
// Bounds that make the loop safe without per-byte checks:
// - A refill loads 8 bytes at `in` and leaves 56 to 63 valid bits. The loop refills once before
//   its first iteration (at an `in` below inLimit); each iteration then starts below inLimit and
//   refills at most twice, each advancing `in` by at most 7 bytes, so no load reaches past
//   inLimit + 14, inside the chunk. Iterations are counted down from a budget derived from the
//   distances to the limits, so the loop tests one counter instead of two pointers.
// - After a refill three literals (15 bits each) fit and leave 11 bits, enough to look up the next
//   first-level entry ahead of the next refill; a length code with its extra bits (20) and a
//   distance code with its extra bits (28) fit in 48, refilled for when fewer remain; after a
//   match a refill precedes the next lookup. First-level literals skip the link test: a link is
//   not a literal, so it leaves the literal run and is followed on the general path.
// - An iteration writes at most three literals and one match with its copy overshoot, all within
//   kOutputMargin of an `out` that started below outLimit.
// - Match sources stay inside the buffer: 32 KB of history always precedes `out`.
// The body is compiled twice, plainly and for BMI2 (flag-free variable shifts and bit-field
// extraction), and the variant is chosen once per process.
#include "archive/codecs/inflate_internal.h"

#include <algorithm>

namespace dvl::codecs::inflate_detail {
namespace {

// An iteration refills at most twice (7 bytes each) and writes at most two literals and a
// 258-byte match, or three literals.
constexpr size_t kInputPerIteration = 14;
constexpr size_t kOutputPerIteration = 260;

// Only the low 6 bits of `bitCount` are meaningful inside the loop: dropping an entry subtracts
// the whole entry word (its low 6 bits are the count), and every use masks.
#define DVL_REFILL()                                                                               \
    do {                                                                                           \
        bits |= Load64(in) << (bitCount & 63);                                                     \
        in += ((63 - bitCount) & 63) >> 3;                                                         \
        bitCount |= 56;                                                                            \
    } while (0)

#define DVL_DROP_ENTRY(e)                                                                          \
    do {                                                                                           \
        bits >>= ((e)&63);                                                                         \
        bitCount -= (e);                                                                           \
    } while (0)

// Follows a first-level link into its sub-table.
#define DVL_RESOLVE(table, e)                                                                      \
    do {                                                                                           \
        if ((e)&kLink) {                                                                           \
            DVL_DROP_ENTRY(e);                                                                     \
            (e) = (table)[EntryValue(e) + (bits & ((uint64_t(1) << EntryCodeBits(e)) - 1))];       \
        }                                                                                          \
    } while (0)

// Base plus the extra bits above the code, from the bits before (`saved`) and after (`rest`) the
// entry was dropped: saved >> code = extra + (rest << extraBits). For lengths and distances the
// flag bits are clear, so bits 8-13 of the entry are the code length.
[[gnu::always_inline]] inline uint32_t EntryAmount(uint32_t e, uint64_t saved, uint64_t rest) {
    const uint32_t code = (e >> 8) & 63;
    const uint32_t extra = (e - (e >> 8)) & 63;
    return EntryValue(e) + uint32_t((saved >> code) - (rest << extra));
}

[[gnu::always_inline]] inline FastExit DecodeFastBody(FastCursor& cursor,
                                                      const HuffmanTable& litLenTable,
                                                      const HuffmanTable& distanceTable) {
    const uint8_t* in = cursor.in;
    const uint8_t* const inLimit = cursor.inLimit;
    uint64_t bits = cursor.bitBuffer;
    unsigned bitCount = cursor.bitCount;
    uint8_t* out = cursor.out;
    uint8_t* const outLimit = cursor.outLimit;

    const uint32_t* const litLen = litLenTable.entries;
    constexpr uint64_t litLenMask = (uint64_t(1) << kLitLenRootBits) - 1;
    const uint32_t* const distances = distanceTable.entries;
    constexpr uint64_t distanceMask = (uint64_t(1) << kDistanceRootBits) - 1;

    // Iterations that may still start: each one begins with `in` below inLimit and `out` below
    // outLimit, and moves them by at most kInputPerIteration and kOutputPerIteration.
    auto budget = [&]() -> size_t {
        if (!(in < inLimit && out < outLimit)) return 0;
        return std::min(size_t(inLimit - in + kInputPerIteration - 1) / kInputPerIteration,
                        size_t(outLimit - out + kOutputPerIteration - 1) / kOutputPerIteration);
    };
    FastExit exit = FastExit::kLimits;
    if (!(in < inLimit && out < outLimit)) return exit;

    // At the top of each iteration at least 56 bits are valid, and `e` is the first-level entry
    // for them, looked up from at least 11 valid bits (the widest first level).
    DVL_REFILL();
    uint32_t e = litLen[bits & litLenMask];
    size_t iterations = budget(); // counted from after the refill above
    while (iterations > 0) {
        if (e & kLiteral) {
            *out++ = uint8_t(EntryValue(e));
            DVL_DROP_ENTRY(e);
            e = litLen[bits & litLenMask];
            if (e & kLiteral) {
                *out++ = uint8_t(EntryValue(e));
                DVL_DROP_ENTRY(e);
                e = litLen[bits & litLenMask];
                if (e & kLiteral) {
                    *out++ = uint8_t(EntryValue(e));
                    DVL_DROP_ENTRY(e);
                    e = litLen[bits & litLenMask];
                    DVL_REFILL();
                    goto next;
                }
            }
            DVL_REFILL();
        }
        // At least 48 valid bits from here on.
        if (e & (kLink | kEndOfBlock | kInvalid)) [[unlikely]] {
            DVL_RESOLVE(litLen, e);
            if (e & kLiteral) {
                *out++ = uint8_t(EntryValue(e));
                DVL_DROP_ENTRY(e);
                DVL_REFILL();
                e = litLen[bits & litLenMask];
                goto next;
            }
            if (e & kEndOfBlock) {
                DVL_DROP_ENTRY(e);
                exit = FastExit::kEndOfBlock;
                break;
            }
            if (e & kInvalid) {
                exit = FastExit::kInvalid;
                break;
            }
        }
        {
            uint64_t saved = bits;
            DVL_DROP_ENTRY(e);
            const uint32_t length = EntryAmount(e, saved, bits);

            uint32_t d = distances[bits & distanceMask];
            if (d & (kLink | kInvalid)) [[unlikely]] {
                DVL_RESOLVE(distances, d);
                if (d & kInvalid) {
                    exit = FastExit::kInvalid;
                    break;
                }
            }
            saved = bits;
            DVL_DROP_ENTRY(d);
            const uint32_t distance = EntryAmount(d, saved, bits);

            DVL_REFILL();
            e = litLen[bits & litLenMask];
            out = CopyMatch(out, distance, length);
        }
    next:
        if (--iterations == 0) iterations = budget();
    }

    cursor.in = in;
    cursor.bitBuffer = bits;
    cursor.bitCount = bitCount & 63;
    cursor.out = out;
    return exit;
}

#undef DVL_RESOLVE
#undef DVL_DROP_ENTRY
#undef DVL_REFILL

FastExit DecodeFastPlain(FastCursor& cursor, const HuffmanTable& litLen,
                         const HuffmanTable& distance) {
    return DecodeFastBody(cursor, litLen, distance);
}

#if defined(__x86_64__)
__attribute__((target("bmi2"))) FastExit
DecodeFastBmi2(FastCursor& cursor, const HuffmanTable& litLen, const HuffmanTable& distance) {
    return DecodeFastBody(cursor, litLen, distance);
}
#endif

using FastLoop = FastExit (*)(FastCursor&, const HuffmanTable&, const HuffmanTable&);

FastLoop ChooseFastLoop() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("bmi2")) return DecodeFastBmi2;
#endif
    return DecodeFastPlain;
}

} // namespace

FastExit DecodeFast(FastCursor& cursor, const HuffmanTable& litLen, const HuffmanTable& distance) {
    static const FastLoop loop = ChooseFastLoop();
    return loop(cursor, litLen, distance);
}

} // namespace dvl::codecs::inflate_detail
