// LZH: the LZ77-plus-Huffman methods of the LHA family and of the archivers that borrowed them.
//
// None of these streams has an end code: each decodes exactly `size` bytes (the entry's stored
// original size) and reads no further than it needs for them. Output leaves in pieces of 64 KiB,
// the last one shorter, never empty; after an error, every byte decoded before it has been
// handed over.
//
// Corrupt: a code table that cannot be built (over-subscribed or incomplete code lengths, a count
// or symbol out of range), a symbol that the table lacks, a distance beyond the window or before
// the start of the history (the output so far, after the pre-fill of -lh1-, -lzs- and -lz5-).
// Truncated: the input ended before `size` bytes were decoded; a code that would need bits past
// the end of the input counts as unread (however the zero bits after the end would decode).
// A match that would pass `size` is cut there. After a Corrupt or Truncated verdict, the bytes
// decoded until the faulty code have been handed over (a piece at a time, so possibly several).
// NoMemory: the window (its size plus 256 KiB) or the tables could not be allocated. Memory is
// flat: nothing grows with `size`.
#pragma once

#include "archive/codecs/byte_stream.h"

#include <cstdint>

namespace dvl::codecs {

// The static-Huffman methods (blocks, each with its own three code tables):
//   LHA -lh4- (4 KiB window), -lh5- (8 KiB), -lh6- (32 KiB), -lh7- (64 KiB); ZOO method 2 (as
//   -lh5-); ARJ methods 1 to 3 (26 KiB window, the position table of -lh7-).
//   A block's symbol count of 0 stands for 65536 symbols (as the 16-bit decoders took it). A run
//   of zero code lengths that passes its table's count ends there (the lengths would be zeros all
//   the same; an old encoder writes such a run). A variant with a field out of range is Corrupt.
struct LzhStaticVariant {
    int windowBits = 13;      // 12..16: the window is 2^windowBits bytes (unless windowSize)
    int positionCodes = 14;   // 14, 16 or 17 position codes (the -lh5-, -lh6-, -lh7- tables)
    int positionCodeBits = 4; // width of the position table's count (4 or 5)
    uint32_t windowSize = 0;  // when not 0: the window in bytes, at most 2^16 (ARJ: 26624)
};

LzhStaticVariant LhaStaticVariant(int lhMethodDigit); // 4..7
LzhStaticVariant ArjStaticVariant();                  // ARJ methods 1 to 3
DecodeStatus DecodeLzhStatic(ByteSource& in, ByteSink& out, uint64_t size,
                             const LzhStaticVariant& variant);

// LHA -lh1-: adaptive Huffman over literals and lengths (314 symbols, rebuilt when the
// root's count reaches 0x8000), a 4 KiB window that starts filled with spaces, distances' upper
// six bits by a fixed code.
DecodeStatus DecodeLzhDynamic(ByteSource& in, ByteSink& out, uint64_t size);

// LArc -lzs- (2 KiB window of spaces; a flag bit per item, MSB first: 1 and a literal byte, or 0,
// an 11-bit window position and a 4-bit length) and -lz5- (4 KiB window pre-filled as LArc does;
// a flag byte per eight items, LSB first: a literal byte, or two bytes of a 12-bit position and a
// 4-bit length). Positions are absolute in LArc's ring, whose first write is at 2048 - 17 (-lzs-)
// or 4096 - 18 (-lz5-).
DecodeStatus DecodeLzs(ByteSource& in, ByteSink& out, uint64_t size);
DecodeStatus DecodeLz5(ByteSource& in, ByteSink& out, uint64_t size);

// ARJ method 4 ("fastest"): unary-prefixed lengths (3..256) and distances (1..15872), no Huffman
// tables.
DecodeStatus DecodeArjFastest(ByteSource& in, ByteSink& out, uint64_t size);

} // namespace dvl::codecs
