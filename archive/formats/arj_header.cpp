#include "archive/formats/arj_header.h"

#include "archive/bytes.h"
#include "archive/codecs/crc32.h"

#include <algorithm>
#include <cstring>

namespace dvl::formats {

namespace {

constexpr size_t kExtendedPositionAt = 34;
constexpr size_t kEncryptionVersionAt = 32;

// The text from `pos` to the next zero byte or to `end`; `pos` moves past
// the zero.
std::string TakeText(const uint8_t* bytes, size_t& pos, size_t end) {
    const size_t from = std::min(pos, end);
    const void* zero = std::memchr(bytes + from, 0, end - from);
    const size_t stop = zero ? size_t(static_cast<const uint8_t*>(zero) - bytes) : end;
    pos = std::min(stop + 1, end);
    return {reinterpret_cast<const char*>(bytes + from), stop - from};
}

// Where the name begins. The fixed part is as long as its first byte says:
// 30 in old archives, 34 with the extended file position, 46 with the extra
// dates of newer archivers. A header that flags an extended position its
// size does not count (old archivers) has it after the 34 bytes.
size_t NameOffset(uint8_t firstSize, bool hasPosition) {
    return std::max<size_t>(4 + size_t(firstSize), kExtendedPositionAt + (hasPosition ? 4 : 0));
}

// After the basic header's CRC: extended headers, each a 16-bit size, its
// bytes and their CRC-32, up to a size of zero. False when the bytes end.
bool SkipExtendedHeaders(std::span<const uint8_t> bytes, size_t& pos) {
    for (;;) {
        if (bytes.size() < pos + 2) return false;
        const uint16_t size = Le16(bytes.data() + pos);
        pos += 2;
        if (size == 0) return true;
        pos += size_t(size) + 4;
    }
}

} // namespace

ArjParse ParseArjHeader(std::span<const uint8_t> bytes, ArjHeaderKind kind, ArjHeader& h) {
    if (bytes.size() < 4) return ArjParse::Truncated;
    const uint8_t* b = bytes.data();
    if (Le16(b) != kArjHeaderId) return ArjParse::NotHeader;
    h = ArjHeader{};
    h.basicSize = Le16(b + 2);
    if (h.basicSize == 0) return ArjParse::End;
    if (h.basicSize > kArjMaxBasicSize || 4 + size_t(h.basicSize) < kArjMinimumHeader)
        return ArjParse::NotHeader;
    const size_t basicEnd = 4 + size_t(h.basicSize);
    if (bytes.size() < basicEnd + 4) return ArjParse::Truncated;

    h.firstSize = b[4];
    h.version = b[5];
    h.versionNeeded = b[6];
    h.hostOs = b[7];
    h.flags = b[8];
    h.method = b[9];
    h.fileType = b[10];
    h.passwordModifier = b[11];
    h.dateTime = Le32(b + 12);
    h.packedSize = Le32(b + 16);
    h.originalSize = Le32(b + 20);
    h.fileCrc = Le32(b + 24);
    h.fileSpecPosition = Le16(b + 28);
    h.accessMode = Le16(b + 30);
    h.hostData = Le16(b + 32);
    if (kind == ArjHeaderKind::Main) h.encryptionVersion = b[kEncryptionVersionAt];

    const bool hasPosition = kind == ArjHeaderKind::Local && (h.flags & kArjExtendedFile);
    size_t pos = NameOffset(h.firstSize, hasPosition);
    if (pos > basicEnd) return ArjParse::NotHeader;
    if (hasPosition) h.partPosition = Le32(b + kExtendedPositionAt);
    h.name = TakeText(b, pos, basicEnd);
    h.comment = TakeText(b, pos, basicEnd);

    const uint32_t crc = ~codecs::CrcUpdate(0xFFFFFFFFu, b + 4, h.basicSize);
    h.crcMatches = crc == Le32(b + basicEnd);
    size_t end = basicEnd + 4;
    if (!SkipExtendedHeaders(bytes, end) || end > bytes.size()) return ArjParse::Truncated;
    h.size = end;
    return ArjParse::Ok;
}

} // namespace dvl::formats
