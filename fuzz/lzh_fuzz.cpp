// The LZH-family decoders of archive/codecs/lzh.h over arbitrary bytes. The first byte picks the
// decoder (modulo 10: -lh4-, -lh5-, -lh6-, -lh7-, ARJ 1-3, -lh1-, -lzs-, -lz5-, ARJ 4, and a
// static variant with a window of 4 KiB and the -lh7- position table); the next three bytes are
// the output size (little-endian, modulo 2^18 + 1); the rest is the stream, decoded whole and in
// chunks whose sizes come from the last byte. Both runs must agree on verdict and output; output
// must leave in full 64 KiB pieces (the last one shorter, none empty), never pass the size, and
// reach it exactly when the verdict is Ok. DVL_LZH_DECODER pins the decoder (see below).
#include "archive/codecs/lzh.h"

#include "fuzz/chunked_input.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace dvl::codecs;
using dvl::fuzz::ChunkedInput;
using dvl::fuzz::ChunkSizes;

constexpr size_t kPiece = size_t(64) << 10;
constexpr uint64_t kMaxSize = uint64_t(1) << 18; // four pieces: enough for the piece logic

struct Outcome {
    DecodeStatus status;
    std::vector<uint8_t> bytes;
};

DecodeStatus Decode(unsigned decoder, ByteSource& in, ByteSink& out, uint64_t size) {
    switch (decoder) {
    case 0:
    case 1:
    case 2:
    case 3:
        return DecodeLzhStatic(in, out, size, LhaStaticVariant(int(decoder) + 4));
    case 4:
        return DecodeLzhStatic(in, out, size, ArjStaticVariant());
    case 5:
        return DecodeLzhDynamic(in, out, size);
    case 6:
        return DecodeLzs(in, out, size);
    case 7:
        return DecodeLz5(in, out, size);
    case 8:
        return DecodeArjFastest(in, out, size);
    default:
        return DecodeLzhStatic(in, out, size,
                               {.windowBits = 12, .positionCodes = 17, .positionCodeBits = 5});
    }
}

Outcome Run(unsigned decoder, const uint8_t* data, size_t size, uint64_t outputSize,
            std::vector<size_t> chunks) {
    ChunkedInput in(data, size, std::move(chunks));
    dvl::fuzz::PieceCheckingOutput out(kPiece, kPiece, kMaxSize);
    const DecodeStatus status = Decode(decoder, in, out, outputSize);
    return {status, std::move(out.bytes)};
}

// DVL_LZH_DECODER=N (0..9) gives every input to decoder N, so that a rarely
// picked decoder can have a run of its own.
int PinnedDecoder() {
    const char* pinned = std::getenv("DVL_LZH_DECODER");
    return pinned && *pinned ? std::atoi(pinned) % 10 : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pinned = PinnedDecoder();
    if (size < 4) return 0;
    const unsigned decoder = pinned >= 0 ? unsigned(pinned) : data[0] % 10;
    const uint64_t outputSize = (data[1] | data[2] << 8 | uint64_t(data[3]) << 16) % (kMaxSize + 1);
    const uint8_t* stream = data + 4;
    const size_t streamSize = size - 4;
    const Outcome whole = Run(decoder, stream, streamSize, outputSize, {streamSize + 1});
    const Outcome chunked =
        Run(decoder, stream, streamSize, outputSize, ChunkSizes(data[size - 1]));
    if (whole.status != chunked.status || whole.bytes != chunked.bytes) std::abort();
    if (whole.bytes.size() > outputSize) std::abort();
    if (whole.status == DecodeStatus::Ok && whole.bytes.size() != outputSize) std::abort();
    if (whole.status == DecodeStatus::WriteFailed || whole.status == DecodeStatus::NoMemory)
        std::abort();
    return 0;
}
