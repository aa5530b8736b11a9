// Inflate: decoder of raw DEFLATE streams (RFC 1951) for deflated ZIP entries.
//
// One Inflate call decodes one entry: it pulls the entry's (already decrypted) compressed bytes
// from a ByteSource and hands the decoded bytes to a ByteSink. Output leaves in pieces
// of exactly 32768 bytes, the last piece shorter; each piece is handed over before the block that
// follows the one that completed it is decoded. Memory stays fixed whatever the entry's size.
//
// Errors (InflateResult::error):
//   kErrBadBlock (25109)          input ended while bits were needed; block type 3; a stored
//                                 length whose complement disagrees; an invalid code in a fixed
//                                 block; a short write in a fixed block
//   kErrIncompleteCodeSet (25118) a dynamic block's code set is incomplete or over-subscribed (a
//                                 code whose longest length is 1 bit may be incomplete, and an
//                                 all-zero set is an absent code), a length repeat runs past the
//                                 end, an invalid code or a short write in a dynamic block
//   kErrBadLengths (25144)        a dynamic block declares more than 288 literal/length or 32
//                                 distance codes
//   kErrWritingFile (25115)       a short write in a stored block or at the final flush
// After an error the pieces already handed over stay handed over; what follows is: every
// complete 32768-byte piece, then the bytes up to the end of the last completed block (nothing
// after a stored length mismatch, which discards the output since the last piece).
#pragma once

#include "archive/codecs/byte_stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace dvl::codecs {

struct InflateResult {
    int error = 0; // 0 or one of the codes above
    // Input bytes the decoder needed: the bits it consumed rounded up to whole bytes, not what it
    // read ahead. When the input ran out, every byte it was given.
    uint64_t consumed = 0;
};

// Reusable decoder; holds its window and tables (about 1.1 MB), allocated once.
class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decodes one whole stream. Every call starts afresh, with a zero-filled window: a distance
    // reaching before the entry's first byte reads zeros.
    InflateResult Inflate(ByteSource& in, ByteSink& out);
    // The same with the window starting as `history` (its last 32 KB): the
    // output before this stream, as the blocks of a cabinet folder continue
    // one another.
    InflateResult Inflate(ByteSource& in, ByteSink& out, std::span<const uint8_t> history);

    // Input bytes needed so far; meaningful inside ByteSink::Write (for progress).
    uint64_t Consumed() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dvl::codecs
