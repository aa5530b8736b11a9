#include "archive/formats/zoo_header.h"

#include "archive/bytes.h"
#include "archive/codecs/crc16.h"

#include <cstring>

namespace dvl::formats {

namespace {

constexpr size_t kShortNameAt = 38, kShortNameSize = 13;
// An old-style entry ends after the short name; a new-style one has its
// variable part's size, a time zone and a CRC-16 of the entry before that part.
constexpr size_t kOldEntrySize = 51;
constexpr size_t kVariableSizeAt = 51;
constexpr size_t kEntryCrcAt = 54;
constexpr size_t kVariablePartAt = 56; // long name and directory name lengths, then the names

std::string UpToZero(const uint8_t* bytes, size_t n) {
    const void* zero = std::memchr(bytes, 0, n);
    const size_t length = zero ? size_t(static_cast<const uint8_t*>(zero) - bytes) : n;
    return {reinterpret_cast<const char*>(bytes), length};
}

// A new-style entry's CRC-16 covers the entry and its variable part, taken
// with the CRC field itself as zero.
bool EntryCrcMatches(std::span<const uint8_t> entry) {
    const uint8_t* b = entry.data();
    const uint8_t zeros[2] = {};
    uint16_t crc = codecs::Crc16Update(0, b, kEntryCrcAt);
    crc = codecs::Crc16Update(crc, zeros, 2);
    crc = codecs::Crc16Update(crc, b + kEntryCrcAt + 2, entry.size() - kEntryCrcAt - 2);
    return crc == Le16(b + kEntryCrcAt);
}

// The long name, the directory name and the attributes of a new-style entry.
ZooParse ParseVariablePart(std::span<const uint8_t> bytes, ZooEntry& e) {
    const uint8_t* b = bytes.data();
    if (bytes.size() < kVariablePartAt) return ZooParse::Truncated;
    const size_t size = Le16(b + kVariableSizeAt);
    if (bytes.size() >= kVariablePartAt + size)
        e.crcMatches = EntryCrcMatches(bytes.first(kVariablePartAt + size));
    if (size < 2) return ZooParse::Ok; // no names
    if (bytes.size() < kVariablePartAt + 2) return ZooParse::Truncated;
    const size_t longLength = b[kVariablePartAt], directoryLength = b[kVariablePartAt + 1];
    size_t pos = kVariablePartAt + 2;
    if (bytes.size() < pos + longLength + directoryLength) return ZooParse::Truncated;
    e.longName = UpToZero(b + pos, longLength);
    pos += longLength;
    e.directory = UpToZero(b + pos, directoryLength);
    pos += directoryLength;
    // After the names: the system id (2 bytes) and the attributes (3 bytes),
    // when the variable part is long enough to hold them.
    const size_t attributesAt = pos + 2;
    if (kVariablePartAt + size >= attributesAt + 3 && bytes.size() >= attributesAt + 3) {
        const uint32_t attributes =
            b[attributesAt] | b[attributesAt + 1] << 8 | uint32_t(b[attributesAt + 2]) << 16;
        // Bits 22-23 say what the others hold: 1 for Unix permission bits.
        if ((attributes >> 22) == 1) e.unixMode = attributes & 0777;
    }
    return ZooParse::Ok;
}

} // namespace

ZooParse ParseZooArchiveHeader(std::span<const uint8_t> bytes, ZooArchiveHeader& h) {
    if (bytes.size() < 41) return ZooParse::Truncated;
    const uint8_t* b = bytes.data();
    h = ZooArchiveHeader{};
    h.tagMatches = Le32(b + 20) == kZooTag;
    h.firstEntry = Le32(b + 24);
    if (uint32_t(h.firstEntry + Le32(b + 28)) != 0 || int32_t(h.firstEntry) <= 0)
        return ZooParse::NotZoo;
    h.commentAt = Le32(b + 35);
    h.commentLength = Le16(b + 39);
    return ZooParse::Ok;
}

ZooParse ParseZooEntry(std::span<const uint8_t> bytes, ZooEntry& e) {
    if (bytes.size() < kOldEntrySize) return ZooParse::Truncated;
    const uint8_t* b = bytes.data();
    e = ZooEntry{};
    e.tagMatches = Le32(b) == kZooTag;
    e.type = b[4];
    e.method = b[5];
    e.next = Le32(b + 6);
    e.dataAt = Le32(b + 10);
    e.dateTime = Le32(b + 14);
    e.crc = Le16(b + 18);
    e.originalSize = Le32(b + 20);
    e.packedSize = Le32(b + 24);
    e.majorVersion = b[28];
    e.minorVersion = b[29];
    e.deleted = b[30] == 1;
    e.commentAt = Le32(b + 32);
    e.commentLength = Le16(b + 36);
    e.shortName = UpToZero(b + kShortNameAt, kShortNameSize);
    if (e.type != kZooEntryWithVariablePart) {
        e.crcMatches = true;
        return ZooParse::Ok;
    }
    return ParseVariablePart(bytes, e);
}

} // namespace dvl::formats
