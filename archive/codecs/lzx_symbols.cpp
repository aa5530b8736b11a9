// The symbol loop of verbatim and aligned offset blocks: the hot path of LZX decoding.
//
// Each round refills once (48 bits: a main code and a length code need at most 32) and again
// before an offset's extra bits (at most 17, or 14 and a 7-bit aligned code). Every match is
// checked before it is copied: it must end within the run the driver asked for (the block's or
// the frame's end, whichever comes first) and start within the window and after the folder's first
// byte. The window buffer has kCopySlack bytes beyond any frame, so the copy may overshoot.
#include "archive/codecs/lzx_internal.h"

#include <algorithm>
#include <array>

namespace dvl::codecs::lzx_detail {
namespace {

// Offsets of position slot s are base[s] - 2 + (extra[s] bits); slots 0-2 stand for R0-R2.
constexpr std::array<uint8_t, kMaxPositionSlots> MakeExtraBits() {
    std::array<uint8_t, kMaxPositionSlots> extra{};
    for (unsigned s = 4; s < kMaxPositionSlots; ++s)
        extra[s] = uint8_t(std::min(17u, (s - 2) / 2));
    return extra;
}
constexpr std::array<uint8_t, kMaxPositionSlots> kExtraBits = MakeExtraBits();

constexpr std::array<uint32_t, kMaxPositionSlots> MakePositionBase() {
    std::array<uint32_t, kMaxPositionSlots> base{};
    for (unsigned s = 1; s < kMaxPositionSlots; ++s)
        base[s] = base[s - 1] + (1u << kExtraBits[s - 1]);
    return base;
}
constexpr std::array<uint32_t, kMaxPositionSlots> kPositionBase = MakePositionBase();

static_assert(kPositionBase[49] + (1u << 17) - 1 - 2 == (1u << 21) - 3,
              "the largest offset of the 2 MiB window is its size less 3");

} // namespace

template <bool kAligned>
bool DecodeSymbols(BitReader& reader, const SymbolContext& context, RepeatedOffsets& repeats,
                   uint8_t*& outRef, uint8_t* const end) {
    BitReader in = reader;
    uint8_t* out = outRef;
    uint32_t r0 = repeats.r0, r1 = repeats.r1, r2 = repeats.r2;
    const HuffmanTable mainTable = *context.main;
    const HuffmanTable lengthTable = *context.length;
    const HuffmanTable alignedTable = *context.aligned;
    const uint8_t* const historyStart = context.historyStart;
    const uint32_t windowSize = context.windowSize;

    bool ok = true;
    while (out < end) {
        in.Refill();
        uint32_t e = Lookup(mainTable, in.bits);
        if (e & kInvalid) {
            ok = false;
            break;
        }
        in.Drop(e & 0xFF);
        uint32_t symbol = e >> 16;
        if (symbol < kNumChars) {
            *out++ = uint8_t(symbol);
            continue;
        }
        symbol -= kNumChars;
        uint32_t length = symbol & 7;
        if (length == 7) {
            e = Lookup(lengthTable, in.bits);
            if (e & kInvalid) {
                ok = false;
                break;
            }
            in.Drop(e & 0xFF);
            length += e >> 16;
        }
        length += kMinMatch;

        const uint32_t slot = symbol >> 3;
        uint32_t offset;
        if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else if (slot == 2) {
            offset = r2;
            r2 = r0;
            r0 = offset;
        } else {
            in.Refill();
            const unsigned extra = kExtraBits[slot];
            uint32_t footer;
            if (kAligned && extra >= 3) {
                footer = in.Take(extra - 3) << 3;
                e = Lookup(alignedTable, in.bits);
                if (e & kInvalid) {
                    ok = false;
                    break;
                }
                in.Drop(e & 0xFF);
                footer += e >> 16;
            } else {
                footer = in.Take(extra);
            }
            offset = kPositionBase[slot] - 2 + footer;
            r2 = r1;
            r1 = r0;
            r0 = offset;
        }

        if (length > size_t(end - out) || offset == 0 || offset > windowSize ||
            offset > size_t(out - historyStart)) {
            ok = false;
            break;
        }
        out = CopyMatch(out, offset, length);
    }

    reader = in;
    outRef = out;
    repeats = {r0, r1, r2};
    return ok;
}

template bool DecodeSymbols<false>(BitReader&, const SymbolContext&, RepeatedOffsets&, uint8_t*&,
                                   uint8_t*);
template bool DecodeSymbols<true>(BitReader&, const SymbolContext&, RepeatedOffsets&, uint8_t*&,
                                  uint8_t*);

} // namespace dvl::codecs::lzx_detail
