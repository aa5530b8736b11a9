// LZW decoder core and the .Z header.
//
// Invariants:
// - The dictionary is flat: for each code its prefix code, its last byte and its string's length.
//   A string is written back to front straight into the output buffer, from its last byte down
//   the prefix chain to the byte code that begins it; chains only ever point to smaller codes, so
//   every walk ends.
// - A string is at most 2^16 - 256 + 1 bytes, so with the buffer flushed whenever it holds 64 KiB
//   or more, kMaxString bytes of room always follow the write position at the top of a step.
// - The bit buffer may hold bits above its count (the low bits of the next unread byte, from an
//   eight-byte load); every refill writes that same byte over them, so they never corrupt a code.
//   The count never exceeds 63.
#include "archive/codecs/lzw.h"

#include "archive/codecs/source_bits.h"

#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace dvl::codecs {

namespace {

constexpr size_t kPiece = size_t(64) << 10;
constexpr size_t kMaxString = size_t(1) << 16;
constexpr int kWidestCode = 16;

using BitReader = SourceBits<BitOrder::LsbFirst>;

bool ValidVariant(const LzwVariant& v) {
    if (v.initialBits < 9 || v.initialBits > kWidestCode) return false;
    if (v.maxBits < v.initialBits || v.maxBits > kWidestCode) return false;
    if (v.firstFree < 256 || v.firstFree >= (1 << v.initialBits)) return false;
    const auto reserved = [&](int code) { return code < 0 || (code >= 256 && code < v.firstFree); };
    if (v.codeLimit != 0 && (v.codeLimit <= v.firstFree || v.codeLimit > (1 << v.maxBits)))
        return false;
    return reserved(v.clearCode) && reserved(v.endCode) &&
           (v.clearCode < 0 || v.clearCode != v.endCode);
}

struct Tables {
    uint16_t prefix[1 << kWidestCode];
    uint16_t length[1 << kWidestCode];
    uint8_t last[1 << kWidestCode];
    uint8_t output[kPiece + kMaxString];
};

DecodeStatus Decode(BitReader& bits, ByteSink& out, const LzwVariant& v) {
    if (!ValidVariant(v)) return DecodeStatus::Corrupt;
    const std::unique_ptr<Tables> tables(new (std::nothrow) Tables);
    if (!tables) return DecodeStatus::NoMemory;
    uint16_t* const prefix = tables->prefix;
    uint16_t* const length = tables->length;
    uint8_t* const last = tables->last;
    uint8_t* const buffer = tables->output;
    for (unsigned c = 0; c < 256; ++c)
        length[c] = 1;

    const unsigned limit = v.codeLimit > 0 ? unsigned(v.codeLimit) : 1u << v.maxBits;
    const unsigned firstFree = unsigned(v.firstFree);
    // Negative codes become values no code of 16 bits can take.
    const unsigned clearCode = v.clearCode < 0 ? ~0u : unsigned(v.clearCode);
    const unsigned endCode = v.endCode < 0 ? ~0u : unsigned(v.endCode);

    unsigned width = unsigned(v.initialBits);
    unsigned nextFree = firstFree;
    unsigned groupCodes = 0; // codes read since the current group of eight began
    bool havePrevious = false;
    unsigned previous = 0;
    uint8_t previousFirst = 0; // first byte of the previous code's string
    size_t pos = 0;

    const auto flush = [&]() { return pos == 0 || out.Write(buffer, pos); };
    const auto finish = [&](DecodeStatus status) {
        if (!flush()) return DecodeStatus::WriteFailed;
        return status;
    };
    // Skips the padding after the last code of a group.
    const auto endGroup = [&]() {
        if (v.groups) bits.Skip(uint64_t((8 - groupCodes % 8) % 8) * width);
        groupCodes = 0;
    };

    for (;;) {
        if (nextFree >> width && width < unsigned(v.maxBits)) {
            endGroup();
            ++width;
        }
        if (!bits.Need(width)) {
            // Less than a byte left is the padding of the last code's byte.
            return finish(bits.Count() < 8 ? DecodeStatus::Ok : DecodeStatus::Truncated);
        }
        const unsigned code = bits.Take(width);
        ++groupCodes;

        if (code == clearCode) {
            endGroup();
            width = unsigned(v.initialBits);
            nextFree = firstFree;
            havePrevious = false;
            continue;
        }
        if (code == endCode) return finish(DecodeStatus::Ok);
        if (pos >= kPiece) {
            if (!out.Write(buffer, pos)) return DecodeStatus::WriteFailed;
            pos = 0;
        }
        if (!havePrevious) {
            if (code >= 256) return finish(DecodeStatus::Corrupt);
            buffer[pos++] = uint8_t(code);
            previous = code;
            previousFirst = uint8_t(code);
            havePrevious = true;
            continue;
        }

        // A byte, a dictionary string, or the entry being made (the previous string and its own
        // first byte); strings are written back to front.
        uint8_t first;
        if (code < 256) {
            first = uint8_t(code);
            buffer[pos++] = first;
        } else {
            unsigned walk;
            size_t n;
            if (code < nextFree && code >= firstFree) {
                walk = code;
                n = length[code];
            } else if (code == nextFree && nextFree < limit) {
                walk = previous;
                n = size_t(length[previous]) + 1;
                buffer[pos + n - 1] = previousFirst;
            } else {
                return finish(DecodeStatus::Corrupt);
            }
            uint8_t* tail = buffer + pos + length[walk] - 1;
            while (walk >= 256) {
                *tail-- = last[walk];
                walk = prefix[walk];
            }
            *tail = uint8_t(walk);
            first = uint8_t(walk);
            pos += n;
        }

        if (nextFree < limit) {
            prefix[nextFree] = uint16_t(previous);
            last[nextFree] = first;
            length[nextFree] = uint16_t(length[previous] + 1);
            ++nextFree;
        }
        previous = code;
        previousFirst = first;
    }
}

} // namespace

DecodeStatus DecodeLzw(ByteSource& in, ByteSink& out, const LzwVariant& variant) {
    BitReader bits(in);
    return Decode(bits, out, variant);
}

DecodeStatus DecodeCompress(ByteSource& in, ByteSink& out) {
    constexpr uint8_t kBlockMode = 0x80;
    constexpr uint8_t kUnused = 0x60;
    constexpr uint8_t kWidthMask = 0x1F;

    BitReader bits(in);
    uint8_t header[3];
    for (uint8_t& b : header) {
        if (!bits.Need(8)) return DecodeStatus::Truncated;
        b = uint8_t(bits.Take(8));
    }
    if (header[0] != 0x1F || header[1] != 0x9D || (header[2] & kUnused) != 0)
        return DecodeStatus::Corrupt;
    const int maxBits = header[2] & kWidthMask;
    if (maxBits < 9 || maxBits > kWidestCode) return DecodeStatus::Corrupt;
    const bool blockMode = (header[2] & kBlockMode) != 0;

    LzwVariant variant;
    variant.initialBits = 9;
    // compress widens the code only while the dictionary grows past the width, and takes the
    // widest width as reached only by widening: a 9-bit stream (never widened) goes to 10-bit
    // codes once its 512 codes are taken.
    variant.maxBits = maxBits == 9 ? 10 : maxBits;
    variant.codeLimit = 1 << maxBits;
    variant.clearCode = blockMode ? 256 : -1;
    variant.firstFree = blockMode ? 257 : 256;
    variant.groups = true;
    return Decode(bits, out, variant);
}

} // namespace dvl::codecs
