#include "archive/formats/gzip_header.h"

#include "archive/bytes.h"
#include "archive/codecs/crc32.h"

#include <cstring>

namespace dvl::formats {

namespace {

constexpr size_t kFixedSize = 10;

// The length of the zero-terminated text at `pos` with its zero; 0 when the
// bytes end first.
size_t TextLength(std::span<const uint8_t> bytes, size_t pos) {
    if (pos >= bytes.size()) return 0;
    const void* zero = std::memchr(bytes.data() + pos, 0, bytes.size() - pos);
    return zero ? size_t(static_cast<const uint8_t*>(zero) - bytes.data()) - pos + 1 : 0;
}

} // namespace

GzipParse ParseGzipHeader(std::span<const uint8_t> bytes, GzipHeader& header) {
    if (bytes.size() < 2) return GzipParse::NeedMore;
    if (bytes[0] != kGzipMagic0 || (bytes[1] != kGzipMagic1 && bytes[1] != kOldGzipMagic1))
        return GzipParse::NotGzip;
    if (bytes.size() < kFixedSize) return GzipParse::NeedMore;
    header = GzipHeader{};
    header.method = bytes[2];
    header.flags = bytes[3];
    header.modified = Le32(bytes.data() + 4);
    size_t pos = kFixedSize;
    if (header.flags & kGzipExtraField) {
        if (bytes.size() < pos + 2) return GzipParse::NeedMore;
        header.extraLength = Le16(bytes.data() + pos);
        pos += 2 + size_t(header.extraLength);
        if (bytes.size() < pos) return GzipParse::NeedMore;
    }
    if (header.flags & kGzipStoredName) {
        const size_t length = TextLength(bytes, pos);
        if (length == 0) return GzipParse::NeedMore;
        header.name.assign(reinterpret_cast<const char*>(bytes.data() + pos), length - 1);
        pos += length;
    }
    if (header.flags & kGzipComment) {
        const size_t length = TextLength(bytes, pos);
        if (length == 0) return GzipParse::NeedMore;
        pos += length;
    }
    if (header.flags & kGzipHeaderCrc) {
        if (bytes.size() < pos + 2) return GzipParse::NeedMore;
        const uint32_t crc = ~codecs::CrcUpdate(0xFFFFFFFF, bytes.data(), pos);
        if (Le16(bytes.data() + pos) != (crc & 0xFFFF)) return GzipParse::BadHeaderCrc;
        pos += 2;
    }
    header.size = pos;
    return GzipParse::Ok;
}

} // namespace dvl::formats
