// LZW over arbitrary bytes: a .Z stream when the input starts with its magic (so .Z files serve
// as inputs as they are), otherwise the core under settings drawn from the first byte, over the
// rest. Each stream is decoded whole and in chunks whose sizes come from the last byte; both runs
// must agree on verdict and output, output must leave in pieces of 64 to 128 KiB (the last one
// shorter, none empty), and no code may yield more than a dictionary string can hold.
#include "archive/codecs/lzw.h"

#include "fuzz/chunked_input.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

using namespace dvl::codecs;
using dvl::fuzz::ChunkedInput;
using dvl::fuzz::ChunkSizes;

constexpr size_t kOutputCap = size_t(1) << 20;
constexpr size_t kPieceMin = size_t(64) << 10, kPieceMax = size_t(128) << 10;

// Bits 0-2: widest code 9..16; 3: a clear code; 4: an end code; 5: groups; 6: a dictionary of
// half the codes the widest width holds; 7: codes start 10 bits wide.
LzwVariant VariantOf(uint8_t b) {
    LzwVariant v;
    v.maxBits = 9 + (b & 7);
    v.initialBits = (b & 0x80) && v.maxBits >= 10 ? 10 : 9;
    int next = 256;
    if (b & 0x08) v.clearCode = next++;
    if (b & 0x10) v.endCode = next++;
    v.firstFree = next;
    v.groups = (b & 0x20) != 0;
    if ((b & 0x40) && v.maxBits > 9) v.codeLimit = 1 << (v.maxBits - 1);
    return v;
}

struct Outcome {
    DecodeStatus status;
    std::vector<uint8_t> bytes;
};

Outcome Decode(std::span<const uint8_t> stream, const LzwVariant* variant,
               std::vector<size_t> sizes) {
    ChunkedInput in(stream.data(), stream.size(), std::move(sizes));
    dvl::fuzz::PieceCheckingOutput out(kPieceMin, kPieceMax, kOutputCap);
    const DecodeStatus status = variant ? DecodeLzw(in, out, *variant) : DecodeCompress(in, out);
    return {status, std::move(out.bytes)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool dotZ = size >= 2 && data[0] == 0x1F && data[1] == 0x9D;
    LzwVariant variant;
    std::span<const uint8_t> stream(data, size);
    if (!dotZ) {
        variant = VariantOf(data[0]);
        stream = stream.subspan(1);
    }
    const LzwVariant* v = dotZ ? nullptr : &variant;

    const Outcome whole = Decode(stream, v, {stream.size() + 1});
    const Outcome chunked = Decode(stream, v, ChunkSizes(data[size - 1]));
    if (whole.status != chunked.status || whole.bytes != chunked.bytes) std::abort();
    // Each code of at least 9 bits yields at most one dictionary string.
    if (whole.bytes.size() > ((stream.size() * 8 / 9 + 1) << 16)) std::abort();
    return 0;
}
