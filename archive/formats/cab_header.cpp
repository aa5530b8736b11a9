#include "archive/formats/cab_header.h"

#include "archive/bytes.h"

#include <cstring>

namespace dvl::formats {

namespace {

constexpr size_t kFolderFixedSize = 8;

// A zero-terminated text at `pos`; false when the bytes end first.
bool ReadText(std::span<const uint8_t> bytes, size_t& pos, std::string& text) {
    if (pos > bytes.size()) return false;
    const void* zero = std::memchr(bytes.data() + pos, 0, bytes.size() - pos);
    if (!zero) return false;
    const size_t end = size_t(static_cast<const uint8_t*>(zero) - bytes.data());
    text.assign(reinterpret_cast<const char*>(bytes.data() + pos), end - pos);
    pos = end + 1;
    return true;
}

} // namespace

CabParse ParseCabHeader(std::span<const uint8_t> bytes, CabHeader& h) {
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "MSCF", 4) != 0) return CabParse::NotCabinet;
    if (bytes.size() < kCabFixedHeaderSize) return CabParse::Truncated;
    const uint8_t* b = bytes.data();
    h = CabHeader{};
    h.cabinetSize = Le32(b + 8);
    h.filesOffset = Le32(b + 16);
    h.versionMinor = b[24];
    h.versionMajor = b[25];
    h.folderCount = Le16(b + 26);
    h.fileCount = Le16(b + 28);
    h.flags = Le16(b + 30);
    h.setId = Le16(b + 32);
    h.cabinetIndex = Le16(b + 34);
    size_t pos = kCabFixedHeaderSize;
    if (h.flags & kCabHasReserve) {
        if (bytes.size() < pos + 4) return CabParse::Truncated;
        h.headerReserve = Le16(b + pos);
        h.folderReserve = b[pos + 2];
        h.dataReserve = b[pos + 3];
        pos += 4 + h.headerReserve;
    }
    if ((h.flags & kCabHasPrevious) &&
        (!ReadText(bytes, pos, h.previousCabinet) || !ReadText(bytes, pos, h.previousDisk)))
        return CabParse::Truncated;
    if ((h.flags & kCabHasNext) &&
        (!ReadText(bytes, pos, h.nextCabinet) || !ReadText(bytes, pos, h.nextDisk)))
        return CabParse::Truncated;
    for (uint16_t i = 0; i < h.folderCount; ++i) {
        if (bytes.size() < pos + kFolderFixedSize) return CabParse::Truncated;
        h.folders.push_back({Le32(b + pos), Le16(b + pos + 4), Le16(b + pos + 6)});
        pos += kFolderFixedSize + h.folderReserve;
    }
    return CabParse::Ok;
}

bool ParseCabFile(std::span<const uint8_t> bytes, CabFileRecord& f) {
    if (bytes.size() < kCabFileFixedSize) return false;
    const uint8_t* b = bytes.data();
    f.size = Le32(b);
    f.folderOffset = Le32(b + 4);
    f.folder = Le16(b + 8);
    f.date = Le16(b + 10);
    f.time = Le16(b + 12);
    f.attributes = Le16(b + 14);
    size_t pos = kCabFileFixedSize;
    if (!ReadText(bytes, pos, f.name)) return false;
    f.recordSize = pos;
    return true;
}

uint32_t CabChecksum(const uint8_t* data, size_t n, uint32_t seed) {
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        sum ^= Le32(data + i);
    uint32_t last = 0;
    switch (n - i) {
    case 3:
        last |= uint32_t(data[i++]) << 16;
        [[fallthrough]];
    case 2:
        last |= uint32_t(data[i++]) << 8;
        [[fallthrough]];
    case 1:
        last |= data[i];
        sum ^= last;
        break;
    default:
        break;
    }
    return sum;
}

} // namespace dvl::formats
