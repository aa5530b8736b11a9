// Quantum: decoder of the Quantum method of cabinet folders (compression type 2).
//
// Quantum is LZ77 over a window of 2^10 to 2^21 bytes (bits 8-12 of the folder's type field; the
// level in bits 4-7 concerns only the compressor) with an arithmetic coder whose adaptive models
// pick, for each step, a literal or a match and then its length and distance slots; the extra bits
// of a slot are raw bits between the arithmetic code's bits. Output comes in frames of 32768
// bytes, one frame to a CFDATA block (the folder's last block may be shorter). The arithmetic
// coder starts afresh in every frame, reading its first 16 bits from the block's start; the window
// and the models carry on from one block to the next through the whole folder. Bytes a block
// holds after its code (encoders pad with up to a few) are ignored.
//
// A block shorter than a frame (the folder's last) may end inside a match: the match is cut there,
// as what lies beyond belongs to no file. A block that a cabinet set splits between two cabinets
// (its first part declares 0 bytes) is decoded once joined.
//
// Errors: Corrupt for a match reaching before the folder's first byte or past the end of a
// 32768-byte frame, a block asking for more than 32768 bytes, or a window size outside 10..21;
// Truncated when the code needs more than 16 bits beyond the block's bytes (those 16 read as
// zeros: an encoder may stop its code short of the register the decoder fills); NoMemory when the
// window could not be allocated. After an error the folder cannot go on: every later block is
// Corrupt until Reset.
#pragma once

#include "archive/codecs/byte_stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace dvl::codecs {

// Decoder of one folder at a time; holds its window (2^windowBits bytes, allocated once) and
// models (a few kilobytes).
class QuantumDecoder {
public:
    // windowBits: bits 8-12 of the folder's type field; outside 10..21 every block is Corrupt.
    explicit QuantumDecoder(int windowBits);
    ~QuantumDecoder();
    QuantumDecoder(const QuantumDecoder&) = delete;
    QuantumDecoder& operator=(const QuantumDecoder&) = delete;

    // Back to the state at the start of a folder: empty window, models as initialised.
    void Reset();

    // Decodes the folder's next CFDATA block: `input` its compressed bytes, `out` receives exactly
    // `outputSize` bytes (its uncompressed size, at most 32768). On an error `out` holds the bytes
    // decoded before the fault and zeros after them.
    DecodeStatus DecodeBlock(std::span<const uint8_t> input, uint8_t* out, size_t outputSize);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dvl::codecs
