// LZX: decoder of the LZX method of cabinet folders (compression type 3, window 2^15 to 2^21).
//
// A folder's compressed data is a series of data blocks (CFDATA); each holds the compressed form
// of one frame of output: 32768 bytes, the folder's last frame shorter. One DecodeBlock call
// decodes one data block into its frame. Everything else carries from block to block of a folder:
// the window, the code lengths each new tree is coded against, the repeated offsets R0-R2, the
// LZX block being decoded (LZX blocks span data blocks freely) and the call translation state.
// Reset returns to the start of a folder. A data block that a cabinet set splits between two
// cabinets (the first part declaring no output) is one data block here: the caller joins its parts.
//
// The stream, as this decoder reads it:
//   - Bits are taken from 16-bit little-endian words, most significant bit first. Every data
//     block starts on a fresh word: the encoder pads each frame to a 16-bit boundary, so the bits
//     left in a data block after its frame is complete are padding and are ignored.
//   - The folder's first block opens with the call translation header: one bit, and when it is
//     set, a 32-bit translation size.
//   - LZX blocks: 3 bits of type (1 verbatim, 2 aligned offset, 3 uncompressed) and 24 bits of
//     size (output bytes, at least 1). Verbatim and aligned blocks bring their trees (the aligned
//     tree as eight 3-bit lengths; the main and length trees coded by pretrees as changes against
//     the folder's previous lengths); an uncompressed block is aligned to the next word boundary
//     (1 to 16 bits of padding), gives R0-R2 as three little-endian 32-bit values, then its bytes,
//     then one padding byte when its size is odd. An uncompressed block continues in the next
//     data block at its first byte; a padding byte the data block had no room for is the next
//     data block's first byte.
//   - A match lies wholly inside its LZX block and its frame, and reaches back at most the window
//     size and never before the folder's first byte.
//   - Call translation (when the header enables it) is undone on each frame's output after the
//     frame is decoded: for every 0xE8 byte before the frame's last 10 bytes, the 32-bit value
//     after it is turned from an absolute target back into a relative one, and the scan resumes
//     after those four bytes. Frames starting at or beyond 1 GiB of folder output, and frames of
//     10 bytes or fewer, are left as they are. The window keeps the untranslated bytes.
//
// Results of DecodeBlock:
//   Ok        `out` holds the frame's outputSize bytes.
//   Corrupt   the data breaks the rules above: block type 0 or 4-7, block size 0, a tree whose
//             code is over-subscribed or incomplete (the length tree may be all zero, for blocks
//             without matches of 9 bytes or more), a code that is not in its tree, a
//             pretree run past the end of its tree, a match past its block or frame, a match
//             offset of 0, beyond the window or before the folder's start; also outputSize above
//             32768, and a window size outside 15..21 bits.
//   Truncated the data block ended before its frame was complete.
//   NoMemory  the window could not be allocated.
// After Corrupt or Truncated, `out` holds the bytes decoded before the fault (untranslated),
// zeros after them; every further call gives the same result until Reset.
#pragma once

#include "archive/codecs/byte_stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace dvl::codecs {

// Reusable decoder; holds its window buffer (the window size and as much again, or 256 KiB again
// when that is more; allocated once) and its tables (about 75 KB).
class LzxDecoder {
public:
    // The folder's window size as a power of two: bits 8-12 of its compression type.
    explicit LzxDecoder(int windowBits);
    ~LzxDecoder();
    LzxDecoder(const LzxDecoder&) = delete;
    LzxDecoder& operator=(const LzxDecoder&) = delete;

    // Back to the state at the start of a folder.
    void Reset();
    // Decodes one data block of the folder: `input` is its compressed bytes, `out` receives
    // exactly `outputSize` bytes (at most 32768; every block but a folder's last gives 32768).
    // A block of outputSize 0 leaves everything as it is.
    DecodeStatus DecodeBlock(std::span<const uint8_t> input, uint8_t* out, size_t outputSize);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dvl::codecs
