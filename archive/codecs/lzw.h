// LZW: one decoder for the LZW family of methods, the variant given as settings, and the .Z
// stream of Unix `compress` on top of it.
//
// Every variant shares the same core. Codes are packed least significant bit first. Codes 0..255
// stand for their own byte; the dictionary's strings get codes from `firstFree` upward, each one
// the previous code's string plus the first byte of the current one. Codes are `initialBits`
// wide at the start and after every clear; the width grows by one bit when the next free code
// no longer fits it, until `maxBits`. Once all 2^maxBits codes are taken the dictionary stays as
// it is (until a clear, where there is one). A code may name the entry being made (the string
// "KwKwK"), never one beyond it.
//
// How the variants fit:
//   .Z (compress)      9 to 9..16 bits (third header byte), clear 256 and first free 257 in
//                      block mode, no clear and first free 256 otherwise, no end code, groups.
//   ZOO, method 1      9 to 13 bits, clear 256, end 257, first free 258, no groups.
//   ARC, "crunched"    (method 8) the member's first byte holds the maximum width (12); then
//                      9 to 12 bits, clear 256, first free 257, groups; the decoded bytes then
//                      go through ARC's run-length expansion (0x90 repeat marker), a sink that
//                      wraps the real one.
//   ARC, "squashed"    (method 9) 9 to 13 bits, clear 256, first free 257, groups; no run-length
//                      stage.
// "Groups": those encoders write codes in groups of eight (a group of `width` bytes); when the
// width changes, and after a clear code, the rest of the current group is padding and the next
// code starts the next group.
//
// A stream without an end code ends with its input; what is left then must be less than a byte
// (the padding of the last code's byte), or the input was cut inside a code.
//
// Output leaves in pieces of at least 64 KiB (the last one shorter) and at most 128 KiB, never
// empty. After an error the strings decoded before the faulty code have been handed over.
// Memory: about 450 KB, allocated per call.
#pragma once

#include "archive/codecs/byte_stream.h"

namespace dvl::codecs {

struct LzwVariant {
    int initialBits = 9; // code width at the start and after a clear (9..16)
    int maxBits = 16;    // widest code (initialBits..16)
    int codeLimit = 0;   // codes the dictionary holds (firstFree + 1..2^maxBits); 0: 2^maxBits
    int clearCode = -1;  // code that empties the dictionary; negative: none
    int endCode = -1;    // code that ends the stream; negative: none
    int firstFree = 256; // code of the first dictionary string (256..2^initialBits - 1); the
                         // clear and end codes lie in 256..firstFree - 1
    bool groups = false; // codes come in groups of eight (see above)
};

// Decodes one LZW stream of the given variant. Corrupt: a code beyond the next free one, a
// dictionary code where no string precedes it (the first code, and the first after a clear,
// must be a byte), a code of 256..firstFree - 1 that is neither the clear nor the end code, or
// settings outside the ranges above. Truncated: the input ended inside a code.
DecodeStatus DecodeLzw(ByteSource& in, ByteSink& out, const LzwVariant& variant);

// Decodes a whole .Z stream: magic 1F 9D, a flags byte (bits 0-4 the maximum width, 9..16; bit
// 7 block mode, which has the clear code; bits 5 and 6 unused and must be clear), then the codes.
// Corrupt also for a wrong magic or a bad flags byte; Truncated for a header cut short.
DecodeStatus DecodeCompress(ByteSource& in, ByteSink& out);

} // namespace dvl::codecs
