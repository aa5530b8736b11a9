// Shared harness of the shrink, reduce and implode fuzz targets: decodes the same bytes twice,
// once fed one byte per chunk and once in chunks whose sizes come from a selector byte, and
// aborts unless both runs give the same output, the same error and the same progress reports,
// and the output leaves in full 32768-byte pieces (the last one shorter).
#pragma once

#include "archive/errors.h"
#include "archive/unzip/legacy_methods.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace dvl::fuzz {

class ChunkedInput : public codecs::ByteSource {
public:
    ChunkedInput(const uint8_t* data, size_t size, size_t chunk)
        : data_(data), size_(size), chunk_(chunk) {}
    std::span<const uint8_t> Next() override {
        size_t n = std::min(chunk_, size_ - pos_);
        // A copy per chunk, so that reading an earlier chunk after Next is a use-after-free.
        copy_.assign(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return copy_;
    }

private:
    const uint8_t* data_;
    size_t size_, chunk_, pos_ = 0;
    std::vector<uint8_t> copy_;
};

class CollectingOutput : public codecs::ByteSink {
public:
    bool Write(const uint8_t* data, size_t n) override {
        if (n == 0 || n > 32768 || lastShort) std::abort();
        lastShort = n < 32768;
        bytes.insert(bytes.end(), data, data + n);
        return true;
    }
    std::vector<uint8_t> bytes;
    bool lastShort = false;
};

struct Outcome {
    std::vector<uint8_t> bytes;
    std::string error;
    std::vector<uint8_t> progress;
    bool operator==(const Outcome&) const = default;
};

template <class Decode>
Outcome RunOnce(const uint8_t* data, size_t size, size_t chunk, uint64_t unpacked, uint16_t flags,
                Decode&& decode) {
    Outcome outcome;
    ChunkedInput in(data, size, chunk);
    CollectingOutput out;
    unzip::ProgressMeter meter;
    meter.Start(10, [&](uint8_t p) { outcome.progress.push_back(p); });
    unzip::LegacyEntry entry{in, out, &meter, size, unpacked, flags};
    try {
        decode(entry);
    } catch (const E_RAISE& e) {
        outcome.error = e.what();
    }
    outcome.bytes = std::move(out.bytes);
    return outcome;
}

// data[0] selects the chunk size, data[1] and data[2] the flags and size limit; the rest is the
// compressed stream.
template <class Decode> void CompareChunkings(const uint8_t* data, size_t size, Decode&& decode) {
    if (size < 3) return;
    size_t chunk = data[0] < 128 ? size_t(data[0]) + 1 : size_t(data[0] - 127) * 509;
    uint16_t flags = data[1];
    uint64_t unpacked = uint64_t(data[2]) << 11; // up to about 512 KiB
    Outcome one = RunOnce(data + 3, size - 3, 1, unpacked, flags, decode);
    Outcome many = RunOnce(data + 3, size - 3, chunk, unpacked, flags, decode);
    if (!(one == many)) std::abort();
}

} // namespace dvl::fuzz
