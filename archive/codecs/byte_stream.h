// How every codec meets its stream: it pulls compressed bytes from a
// ByteSource and pushes decoded bytes into a ByteSink, in blocks, knowing
// nothing of the container, the files or the events around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dvl::codecs {

// Source of a stream's compressed bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next chunk (any size); empty when the data is used up. The bytes
    // must stay valid until the following call.
    virtual std::span<const uint8_t> Next() = 0;
};

// Receiver of the decoded bytes.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes n bytes; false on a short write, which ends decoding.
    virtual bool Write(const uint8_t* data, size_t n) = 0;
    // Takes n zero bytes (a hole of a sparse file); a sink may leave a hole.
    virtual bool WriteZeros(uint64_t n) {
        static const uint8_t zeros[4096] = {};
        while (n > 0) {
            const size_t piece = n < sizeof zeros ? size_t(n) : sizeof zeros;
            if (!Write(zeros, piece)) return false;
            n -= piece;
        }
        return true;
    }
};

// How a decoding ended.
enum class DecodeStatus {
    Ok,          // the stream decoded whole
    Corrupt,     // the data breaks the format's rules
    Truncated,   // the input ended before the stream did
    WriteFailed, // the sink refused the output
    NoMemory,    // the decoder's tables could not be allocated
};

} // namespace dvl::codecs
