// The ZIP records as extraction and listing read them. All numbers are
// little-endian; offsets are from the start of each record.
#pragma once

#include "archive/bytes.h"
#include "archive/text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dvl::unzip {

constexpr uint32_t kEndRecordSignature = 0x06054B50;     // "PK" 5 6
constexpr uint32_t kCentralHeaderSignature = 0x02014B50; // "PK" 1 2
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;   // "PK" 3 4
constexpr uint32_t kZip250Signature = 0x50000000;        // 00 00 00 50
constexpr uint32_t kZip64SizeMarker = 0xFFFFFFFF;        // the size is in the ZIP64 extra field

constexpr int kEndRecordSize = 22;
constexpr int kCentralHeaderSize = 46;
constexpr int kLocalHeaderSize = 30;

enum ZipFlags : uint16_t {
    kFlagEncrypted = 0x0001,
    kFlagImplode8K = 0x0002,   // implode: 8192-byte dictionary
    kFlagImplodeLits = 0x0004, // implode: a literal tree is present
    kFlagTimeCheck = 0x0008,   // password check byte is the time's high byte
    kFlagUtf8Names = 0x0800,   // names and comments are UTF-8
};

struct EndRecord {
    uint32_t signature, centralOffset;
    uint16_t commentLength;
    uint16_t totalEntries; // 0xFFFF: kept in a ZIP64 record

    static EndRecord Parse(const uint8_t* b) {
        return {Le32(b), Le32(b + 16), Le16(b + 20), Le16(b + 10)};
    }
};

struct CentralHeader {
    uint32_t signature;
    uint16_t versionMadeBy, versionNeeded, flags, method;
    uint32_t dosDateTime, crc, packedSize, unpackedSize;
    uint16_t nameLength, extraLength, commentLength, diskStart, internalAttr;
    uint32_t externalAttr, localOffset;

    static CentralHeader Parse(const uint8_t* b) {
        return {Le32(b),      Le16(b + 4),  Le16(b + 6),  Le16(b + 8),  Le16(b + 10), Le32(b + 12),
                Le32(b + 16), Le32(b + 20), Le32(b + 24), Le16(b + 28), Le16(b + 30), Le16(b + 32),
                Le16(b + 34), Le16(b + 36), Le32(b + 38), Le32(b + 42)};
    }
};

struct LocalHeader {
    uint32_t signature;
    uint16_t versionNeeded, flags, method;
    uint32_t dosDateTime, crc, packedSize, unpackedSize;
    uint16_t nameLength, extraLength;

    static LocalHeader Parse(const uint8_t* b) {
        return {Le32(b),      Le16(b + 4),  Le16(b + 6),  Le16(b + 8),  Le32(b + 10),
                Le32(b + 14), Le32(b + 18), Le32(b + 22), Le16(b + 26), Le16(b + 28)};
    }
};

} // namespace dvl::unzip
