// Pack over arbitrary bytes (so .z files serve as inputs as they are), decoded whole and in chunks
// whose sizes come from the last byte: both runs must agree on verdict and output, output must
// leave in full 64 KiB pieces (the last one shorter, none empty), never exceed the stored size,
// and reach it exactly when the verdict is Ok.
#include "archive/codecs/pack.h"

#include "fuzz/chunked_input.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using namespace dvl::codecs;
using dvl::fuzz::ChunkedInput;
using dvl::fuzz::ChunkSizes;

constexpr size_t kOutputCap = size_t(1) << 20;
constexpr size_t kPiece = size_t(64) << 10;

struct Outcome {
    DecodeStatus status;
    std::vector<uint8_t> bytes;
};

Outcome Decode(const uint8_t* data, size_t size, std::vector<size_t> sizes) {
    ChunkedInput in(data, size, std::move(sizes));
    dvl::fuzz::PieceCheckingOutput out(kPiece, kPiece, kOutputCap);
    const DecodeStatus status = DecodePack(in, out);
    return {status, std::move(out.bytes)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Outcome whole = Decode(data, size, {size + 1});
    const Outcome chunked = Decode(data, size, ChunkSizes(data[size - 1]));
    if (whole.status != chunked.status || whole.bytes != chunked.bytes) std::abort();
    if (size >= 6) {
        const uint64_t stored = uint64_t(data[2]) << 24 | data[3] << 16 | data[4] << 8 | data[5];
        if (whole.bytes.size() > stored) std::abort();
        if (whole.status == DecodeStatus::Ok && whole.bytes.size() != stored) std::abort();
    } else if (!whole.bytes.empty()) {
        std::abort();
    }
    return 0;
}
