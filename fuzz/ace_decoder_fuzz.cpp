// The ACE member decoder over arbitrary bytes. The first byte picks the method (bits 0-1; 3
// means blocked), the dictionary (bits 2-5: 2^10 to 2^25, beyond 2^22 refused) and whether the
// stream is decoded a second time as the next member of a solid archive (bit 6); the rest is
// the packed stream. Each decode runs twice, with the stream in one piece and one byte at a
// time: result and output must agree.
#include "unace/decoder/ace_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using dvl::unace::AceDecoder;
using dvl::unace::DecodeResult;

constexpr uint64_t kMaxOutput = uint64_t(1) << 18;

class Input : public dvl::unace::PackedInput {
public:
    Input(const uint8_t* data, size_t size, size_t piece)
        : data_(data), size_(size), piece_(piece) {}
    size_t ReadPacked(uint8_t* buffer, size_t capacity) override {
        const size_t n = std::min({capacity, piece_, size_ - at_});
        if (n) std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_, piece_, at_ = 0;
};

struct Outcome {
    std::vector<DecodeResult> results;
    std::vector<uint8_t> output;
};

Outcome Decode(AceDecoder& decoder, int compType, int dictBits, bool solid, const uint8_t* data,
               size_t size, size_t piece) {
    Outcome outcome;
    // The size the stream is asked for grows with the stream, within a bound.
    const uint64_t origSize = std::min<uint64_t>(kMaxOutput, 16 * uint64_t(size) + 1);
    decoder.Reset();
    for (int member = 0; member < (solid ? 2 : 1); ++member) {
        Input input(data, size, piece);
        uint64_t delivered = 0;
        outcome.results.push_back(decoder.DecodeMember(
            compType, dictBits, origSize, input, [&](const uint8_t* bytes, size_t n) {
                if (n == 0 || n > 64 * 1024) abort();
                delivered += n;
                outcome.output.insert(outcome.output.end(), bytes, bytes + n);
                return true;
            }));
        if (delivered > origSize) abort();
        if (outcome.results.back() == DecodeResult::Ok && delivered != origSize) abort();
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const int compType = std::min(selector & 3, 2);
    const int dictBits = 10 + ((selector >> 2) & 15);
    const bool solid = (selector & 0x40) != 0;
    static AceDecoder decoder;
    const Outcome whole = Decode(decoder, compType, dictBits, solid, data + 1, size - 1, SIZE_MAX);
    const Outcome bytewise = Decode(decoder, compType, dictBits, solid, data + 1, size - 1, 1);
    if (whole.results != bytewise.results || whole.output != bytewise.output) abort();
    return 0;
}
