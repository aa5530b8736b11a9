// Pack decoder: header and tree checks, a lookup table for codes of up to kTableBits bits, and
// a walk down the levels for the longer ones.
//
// Invariants:
// - first[L] is the value of the first leaf at level L; the values below it at that level are
//   internal nodes, the prefixes of all deeper codes. With the tree complete, the children of
//   level L - 1's internal nodes are exactly the values 0 .. first[L] + count[L] - 1, so a walk
//   that widens the peeked value one bit at a time meets a leaf by the deepest level.
// - The bit buffer holds its valid bits at the top; below them it may hold bits of the next
//   unread byte from an eight-byte load, which every refill writes over with the same bits. Once
//   the input has ended, everything below the valid bits is zero, so a peek past the end sees
//   zeros and a code is accepted only when its length fits the valid bits.
#include "archive/codecs/pack.h"

#include "archive/codecs/source_bits.h"

#include <bit>
#include <cstring>
#include <span>

namespace dvl::codecs {

namespace {

constexpr unsigned kMaxLevels = 25;
constexpr unsigned kTableBits = 12;
constexpr unsigned kEndSymbol = 256;
constexpr size_t kPiece = size_t(64) << 10;

using BitReader = SourceBits<BitOrder::MsbFirst>;

// The next whole byte of the header; false when the input ends first.
bool ReadByte(BitReader& bits, uint8_t& value) {
    if (!bits.Need(8)) return false;
    value = uint8_t(bits.Peek(8));
    bits.Drop(8);
    return true;
}

struct Code {
    unsigned levels = 0;
    uint32_t count[kMaxLevels + 1] = {};
    uint32_t first[kMaxLevels + 1] = {};
    uint32_t base[kMaxLevels + 1] = {}; // index in `symbols` of the level's first leaf
    uint16_t symbols[257] = {};
    // Indexed by the next kTableBits bits: symbol | length << 9, or 0 for a longer code.
    uint16_t table[1u << kTableBits] = {};
};

// Reads the tree description into `code`; Ok, Corrupt or Truncated.
DecodeStatus ReadCode(BitReader& bits, Code& code) {
    uint8_t levels;
    if (!ReadByte(bits, levels)) return DecodeStatus::Truncated;
    if (levels == 0 || levels > kMaxLevels) return DecodeStatus::Corrupt;
    code.levels = levels;
    uint32_t leaves = 0;
    for (unsigned level = 1; level <= levels; ++level) {
        uint8_t count;
        if (!ReadByte(bits, count)) return DecodeStatus::Truncated;
        code.count[level] = count;
        code.base[level] = leaves;
        leaves += code.count[level];
    }
    code.count[levels] += 2;
    leaves += 2;
    if (leaves > 257) return DecodeStatus::Corrupt;

    // Complete: each level's nodes pair up into the internal nodes of the level above, up to
    // the root's two children.
    code.first[levels] = 0;
    for (unsigned level = levels; level > 1; --level) {
        const uint32_t nodes = code.first[level] + code.count[level];
        if (nodes % 2 != 0) return DecodeStatus::Corrupt;
        code.first[level - 1] = nodes / 2;
    }
    if (code.first[1] + code.count[1] != 2) return DecodeStatus::Corrupt;

    bool seen[256] = {};
    for (uint32_t i = 0; i + 1 < leaves; ++i) {
        uint8_t value;
        if (!ReadByte(bits, value)) return DecodeStatus::Truncated;
        if (seen[value]) return DecodeStatus::Corrupt;
        seen[value] = true;
        code.symbols[i] = uint16_t(value);
    }
    code.symbols[leaves - 1] = kEndSymbol;

    for (unsigned level = 1; level <= levels && level <= kTableBits; ++level) {
        const unsigned spread = kTableBits - level;
        for (uint32_t i = 0; i < code.count[level]; ++i) {
            const uint32_t value = code.first[level] + i;
            const uint16_t entry = uint16_t(code.symbols[code.base[level] + i] | level << 9);
            for (uint32_t j = value << spread; j < (value + 1) << spread; ++j)
                code.table[j] = entry;
        }
    }
    return DecodeStatus::Ok;
}

// Decodes the next symbol, or returns a length past the valid bits (the input ran out).
[[gnu::always_inline]] inline unsigned NextSymbol(BitReader& bits, const Code& code,
                                                  unsigned& length) {
    const uint16_t entry = code.table[bits.Peek(kTableBits)];
    if (entry != 0) {
        length = entry >> 9;
        return entry & 0x1FF;
    }
    for (unsigned level = kTableBits + 1;; ++level) {
        const uint32_t value = bits.Peek(level);
        if (value >= code.first[level]) {
            length = level;
            return code.symbols[code.base[level] + value - code.first[level]];
        }
    }
}

} // namespace

DecodeStatus DecodePack(ByteSource& in, ByteSink& out) {
    BitReader bits(in);
    uint8_t magic[2];
    for (uint8_t& b : magic)
        if (!ReadByte(bits, b)) return DecodeStatus::Truncated;
    if (magic[0] != 0x1F || magic[1] != 0x1E) return DecodeStatus::Corrupt;
    uint64_t remaining = 0; // the original size, big-endian
    for (int i = 0; i < 4; ++i) {
        uint8_t b;
        if (!ReadByte(bits, b)) return DecodeStatus::Truncated;
        remaining = remaining << 8 | b;
    }

    Code code;
    if (const DecodeStatus s = ReadCode(bits, code); s != DecodeStatus::Ok) return s;

    uint8_t buffer[kPiece];
    size_t pos = 0;
    const auto finish = [&](DecodeStatus status) {
        if (pos > 0 && !out.Write(buffer, pos)) return DecodeStatus::WriteFailed;
        return status;
    };
    // Each step decodes one code; `remaining` bytes, then the end code.
    for (;;) {
        const bool full = bits.Need(kMaxLevels);
        unsigned length;
        const unsigned symbol = NextSymbol(bits, code, length);
        if (!full && length > bits.Count()) return finish(DecodeStatus::Truncated);
        bits.Drop(length);
        if (remaining == 0)
            return finish(symbol == kEndSymbol ? DecodeStatus::Ok : DecodeStatus::Corrupt);
        if (symbol == kEndSymbol) return finish(DecodeStatus::Corrupt);
        buffer[pos++] = uint8_t(symbol);
        --remaining;
        if (pos == kPiece) {
            if (!out.Write(buffer, pos)) return DecodeStatus::WriteFailed;
            pos = 0;
        }
    }
}

} // namespace dvl::codecs
