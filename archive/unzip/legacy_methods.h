// Decoders of the three oldest ZIP methods: shrinking (1), reducing (2 to 5) and imploding (6).
//
// Each call decodes one whole entry: it pulls the (already decrypted) compressed bytes from an
// ByteSource and hands the decoded bytes to an ByteSink in pieces of 32768 bytes, the last
// piece shorter. Errors are raised as E_RAISE (RaiseCode); the bytes decoded before an error are
// handed over before it propagates. A short write raises "Error writing to file" (25115).
//
// The tables are allocated per call; when an allocation fails the decoder writes nothing and
// returns. Progress, when a meter is given, is reported exactly as an evaluation of the progress
// rule before every byte fetch of the one-byte-at-a-time bit reader would report it.
#pragma once

#include "archive/codecs/inflate.h"
#include "archive/unzip/progress_meter.h"

#include <cstdint>

namespace dvl::unzip {

using codecs::ByteSink;
using codecs::ByteSource;

struct LegacyEntry {
    ByteSource& input;
    ByteSink& output;
    ProgressMeter* meter = nullptr; // progress of the compressed bytes, or none
    uint64_t packedSize = 0;        // the total of the progress rule
    uint64_t unpackedSize = 0;      // where reduce and implode stop
    uint16_t flags = 0;             // general-purpose flags of the central header
};

// Method 1. Stops at the end of the input.
void Unshrink(const LegacyEntry& entry);
// Methods 2 to 5 (factor 1 to 4). Stops once unpackedSize bytes are written.
void Unreduce(const LegacyEntry& entry, int factor);
// Method 6; flag bit 1: 8 KiB window, bit 2: literal tree. Stops once unpackedSize bytes are
// written.
void Explode(const LegacyEntry& entry);

} // namespace dvl::unzip
