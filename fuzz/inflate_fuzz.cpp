// Inflate over arbitrary bytes, in chunks whose sizes come from the first byte, compared with
// zlib's raw inflate: where zlib decodes the stream fully, the output must be the same; where zlib
// rejects it, so must we, except for what ZIP decoders accept beyond RFC 1951's limits (31 or 32
// distance and 287 or 288 literal/length codes declared, distances before the first byte, a
// leading repeat of length 0, a lone 1-bit code-length code).
#include "archive/codecs/inflate.h"

#include "fuzz/chunked_input.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr size_t kOutputCap = size_t(64) << 20;

// Compares our output with zlib's as it arrives; stops at the cap.
class Output : public dvl::codecs::ByteSink {
public:
    explicit Output(const std::vector<uint8_t>* expected) : expected_(expected) {}
    bool Write(const uint8_t* data, size_t n) override {
        if (n == 0 || n > 32768) std::abort(); // pieces of at most 32768 bytes, never empty
        if (total + n > kOutputCap) return false;
        if (expected_ &&
            (total + n > expected_->size() || std::memcmp(expected_->data() + total, data, n) != 0))
            std::abort();
        total += n;
        return true;
    }
    size_t total = 0;

private:
    const std::vector<uint8_t>* expected_;
};

enum class Zlib { kDecoded, kRejected, kBeyondLimits, kUnknown };

Zlib ZlibInflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    int rc = Z_OK;
    out.clear();
    uint8_t buffer[65536];
    while (rc == Z_OK && out.size() < kOutputCap) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const std::string message = z.msg ? z.msg : "";
    inflateEnd(&z);
    if (rc == Z_STREAM_END) return out.size() <= kOutputCap ? Zlib::kDecoded : Zlib::kUnknown;
    if (out.size() >= kOutputCap) return Zlib::kUnknown;
    if (message == "too many length or distance symbols" ||
        message == "invalid distance too far back" || message == "invalid code lengths set" ||
        message == "invalid bit length repeat")
        return Zlib::kBeyondLimits;
    return Zlib::kRejected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    std::vector<uint8_t> reference;
    const Zlib verdict = ZlibInflate(stream, length, reference);

    static dvl::codecs::Inflater inflater;
    dvl::fuzz::ChunkedInput in(stream, length, dvl::fuzz::ChunkSizes(data[0]));
    Output out(verdict == Zlib::kDecoded ? &reference : nullptr);
    const dvl::codecs::InflateResult r = inflater.Inflate(in, out);

    if (r.consumed > length) std::abort();
    if (verdict == Zlib::kDecoded && (r.error != 0 || out.total != reference.size())) std::abort();
    if (verdict == Zlib::kRejected && r.error == 0) std::abort();
    return 0;
}
