// The LZX decoder over arbitrary bytes. The first byte picks the window (2^15 to 2^21); the rest
// is a folder's data blocks, each a 2-byte little-endian output size (low 15 bits plus 1: 1 to
// 32768), a 2-byte compressed size and that many bytes (the last block takes what is left). The
// folder is decoded twice on one decoder, with Reset between: the results and the output must
// agree (nothing of one folder may reach the next).
#include "archive/codecs/lzx.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

namespace {

using dvl::codecs::DecodeStatus;
using dvl::codecs::LzxDecoder;

constexpr size_t kMaxOutput = size_t(4) << 20;

struct Outcome {
    std::vector<DecodeStatus> results;
    std::vector<uint8_t> output;
};

Outcome DecodeFolder(LzxDecoder& decoder, const uint8_t* data, size_t size) {
    Outcome outcome;
    decoder.Reset();
    size_t at = 0;
    while (at + 4 <= size && outcome.output.size() < kMaxOutput) {
        const size_t outputSize = (size_t(data[at] | data[at + 1] << 8) & 0x7FFF) + 1;
        const size_t packed = std::min(size_t(data[at + 2] | data[at + 3] << 8), size - at - 4);
        at += 4;
        // A copy per block: reading past its end is then a heap overflow.
        const std::vector<uint8_t> input(data + at, data + at + packed);
        at += packed;
        const size_t start = outcome.output.size();
        outcome.output.resize(start + outputSize);
        const DecodeStatus status =
            decoder.DecodeBlock(input, outcome.output.data() + start, outputSize);
        outcome.results.push_back(status);
        if (status != DecodeStatus::Ok) break;
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static std::array<std::unique_ptr<LzxDecoder>, 7> decoders;
    const int window = data[0] % 7;
    if (!decoders[window]) decoders[window] = std::make_unique<LzxDecoder>(15 + window);
    LzxDecoder& decoder = *decoders[window];

    const Outcome first = DecodeFolder(decoder, data + 1, size - 1);
    const Outcome second = DecodeFolder(decoder, data + 1, size - 1);
    if (first.results != second.results || first.output != second.output) abort();
    return 0;
}
