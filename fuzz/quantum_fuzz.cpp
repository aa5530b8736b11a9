// The Quantum decoder over arbitrary blocks of one folder. The first byte picks the window
// (10 + byte % 12 bits); then each block is a 2-byte code length, a 2-byte output size (modulo
// 32770, so 0 and one past the frame occur) and its code, up to 8 blocks and about 96 KiB of
// output. The folder is decoded twice through one decoder, Reset between, into output first filled
// with 0x00 and then 0xFF: results and bytes must agree (every byte of a block is written, and
// Reset forgets everything), and after a block fails every later one is Corrupt.
#include "archive/codecs/quantum.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

using dvl::codecs::DecodeStatus;
using dvl::codecs::QuantumDecoder;

// Bounds that keep an input quick: blocks are added while the output stays below the second.
constexpr size_t kMaxBlocks = 8, kMaxOutput = 96 * 1024;

struct Block {
    std::span<const uint8_t> code;
    size_t size;
};

struct Outcome {
    std::vector<DecodeStatus> results;
    std::vector<uint8_t> output;
};

Outcome Decode(QuantumDecoder& decoder, const std::vector<Block>& blocks, uint8_t fill) {
    Outcome outcome;
    decoder.Reset();
    for (const Block& block : blocks) {
        std::vector<uint8_t> out(block.size, fill);
        // A copy of the code: reading beyond it is then a heap overflow.
        const std::vector<uint8_t> code(block.code.begin(), block.code.end());
        const DecodeStatus status = decoder.DecodeBlock(code, out.data(), out.size());
        const bool failedBefore =
            !outcome.results.empty() && outcome.results.back() != DecodeStatus::Ok;
        if (failedBefore && status != DecodeStatus::Corrupt) std::abort();
        if (status == DecodeStatus::NoMemory) std::abort();
        if (status == DecodeStatus::Ok && block.size > 32768) std::abort();
        outcome.results.push_back(status);
        outcome.output.insert(outcome.output.end(), out.begin(), out.end());
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int windowBits = 10 + data[0] % 12;
    std::vector<Block> blocks;
    size_t at = 1;
    size_t output = 0;
    while (at + 4 <= size && blocks.size() < kMaxBlocks && output < kMaxOutput) {
        const size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 4);
        const size_t outputSize = (data[at + 2] | data[at + 3] << 8) % 32770;
        blocks.push_back({{data + at + 4, length}, outputSize});
        at += 4 + length;
        output += outputSize;
    }

    static QuantumDecoder* decoders[22] = {};
    if (!decoders[windowBits]) decoders[windowBits] = new QuantumDecoder(windowBits);
    QuantumDecoder& decoder = *decoders[windowBits];
    const Outcome zeros = Decode(decoder, blocks, 0x00);
    const Outcome ones = Decode(decoder, blocks, 0xFF);
    if (zeros.results != ones.results || zeros.output != ones.output) std::abort();
    return 0;
}
