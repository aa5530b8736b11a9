#include "archive/codecs/stream_libraries.h"

#include <bzlib.h>
#include <lzma.h>
#include <memory>
#include <vector>
#include <zstd.h>

namespace dvl::codecs {

namespace {

constexpr size_t kOutputBlock = 256 * 1024;

// What remains of the input chunk at hand: libraries take input in place.
struct Pending {
    std::span<const uint8_t> chunk;
    bool ended = false;
    // Refills when the chunk is used up; false at the end of the input.
    bool Refill(ByteSource& in) {
        if (!chunk.empty()) return true;
        if (ended) return false;
        chunk = in.Next();
        ended = chunk.empty();
        return !ended;
    }
};

} // namespace

DecodeStatus DecodeBzip2(ByteSource& in, ByteSink& out) {
    std::vector<char> buffer(kOutputBlock);
    Pending input;
    bool anyStream = false;
    // Each bzip2 stream of a concatenated file is one decompressor run.
    while (input.Refill(in)) {
        bz_stream stream{};
        if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return DecodeStatus::NoMemory;
        const std::unique_ptr<bz_stream, int (*)(bz_stream*)> guard(&stream, BZ2_bzDecompressEnd);
        for (;;) {
            if (!input.Refill(in)) return DecodeStatus::Truncated;
            stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input.chunk.data()));
            stream.avail_in = unsigned(input.chunk.size());
            stream.next_out = buffer.data();
            stream.avail_out = unsigned(buffer.size());
            const int r = BZ2_bzDecompress(&stream);
            input.chunk = input.chunk.subspan(input.chunk.size() - stream.avail_in);
            const size_t produced = buffer.size() - stream.avail_out;
            if (produced > 0 &&
                !out.Write(reinterpret_cast<const uint8_t*>(buffer.data()), produced))
                return DecodeStatus::WriteFailed;
            if (r == BZ_STREAM_END) break;
            if (r == BZ_MEM_ERROR) return DecodeStatus::NoMemory;
            if (r != BZ_OK) return DecodeStatus::Corrupt;
        }
        anyStream = true;
    }
    return anyStream ? DecodeStatus::Ok : DecodeStatus::Truncated;
}

DecodeStatus DecodeXz(ByteSource& in, ByteSink& out) {
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_auto_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
        return DecodeStatus::NoMemory;
    const std::unique_ptr<lzma_stream, void (*)(lzma_stream*)> guard(&stream, lzma_end);
    std::vector<uint8_t> buffer(kOutputBlock);
    Pending input;
    for (;;) {
        const bool more = input.Refill(in);
        stream.next_in = input.chunk.data();
        stream.avail_in = input.chunk.size();
        stream.next_out = buffer.data();
        stream.avail_out = buffer.size();
        const lzma_ret r = lzma_code(&stream, more ? LZMA_RUN : LZMA_FINISH);
        input.chunk = input.chunk.subspan(input.chunk.size() - stream.avail_in);
        const size_t produced = buffer.size() - stream.avail_out;
        if (produced > 0 && !out.Write(buffer.data(), produced)) return DecodeStatus::WriteFailed;
        switch (r) {
        case LZMA_OK:
            if (!more && produced == 0) return DecodeStatus::Truncated;
            continue;
        case LZMA_STREAM_END:
            return DecodeStatus::Ok;
        case LZMA_MEM_ERROR:
        case LZMA_MEMLIMIT_ERROR:
            return DecodeStatus::NoMemory;
        case LZMA_BUF_ERROR:
            return DecodeStatus::Truncated;
        default:
            return DecodeStatus::Corrupt;
        }
    }
}

DecodeStatus DecodeZstd(ByteSource& in, ByteSink& out) {
    const std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                          ZSTD_freeDStream);
    if (!stream) return DecodeStatus::NoMemory;
    std::vector<uint8_t> buffer(ZSTD_DStreamOutSize());
    Pending input;
    size_t last = 0; // 0 at the end of a frame
    bool anyInput = false;
    while (input.Refill(in)) {
        anyInput = true;
        ZSTD_inBuffer inBuffer{input.chunk.data(), input.chunk.size(), 0};
        while (inBuffer.pos < inBuffer.size) {
            ZSTD_outBuffer outBuffer{buffer.data(), buffer.size(), 0};
            last = ZSTD_decompressStream(stream.get(), &outBuffer, &inBuffer);
            if (ZSTD_isError(last)) return DecodeStatus::Corrupt;
            if (outBuffer.pos > 0 && !out.Write(buffer.data(), outBuffer.pos))
                return DecodeStatus::WriteFailed;
        }
        input.chunk = {};
    }
    // Output the decoder still holds, while a frame is unfinished.
    while (last != 0) {
        ZSTD_inBuffer none{nullptr, 0, 0};
        ZSTD_outBuffer outBuffer{buffer.data(), buffer.size(), 0};
        const size_t hint = ZSTD_decompressStream(stream.get(), &outBuffer, &none);
        if (ZSTD_isError(hint)) return DecodeStatus::Corrupt;
        if (outBuffer.pos == 0) break;
        last = hint;
        if (!out.Write(buffer.data(), outBuffer.pos)) return DecodeStatus::WriteFailed;
    }
    return anyInput && last == 0 ? DecodeStatus::Ok : DecodeStatus::Truncated;
}

} // namespace dvl::codecs
