// The header of a gzip member as every gzip reader here reads it: magic,
// method, flags, time, then the optional extra field, stored name, comment
// and header CRC.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace dvl::formats {

constexpr uint8_t kGzipMagic0 = 0x1F, kGzipMagic1 = 0x8B, kOldGzipMagic1 = 0x9E;

enum GzipFlags : uint8_t {
    kGzipHeaderCrc = 0x02,
    kGzipExtraField = 0x04,
    kGzipStoredName = 0x08,
    kGzipComment = 0x10,
    kGzipEncrypted = 0x20,
};

enum class GzipParse { Ok, NeedMore, NotGzip, BadHeaderCrc };

struct GzipHeader {
    uint8_t method = 0, flags = 0;
    uint32_t modified = 0;   // Unix time
    int64_t extraLength = 0; // of the extra field's data
    std::string name;        // the stored name, unconverted; empty when none
    size_t size = 0;         // bytes of the whole header
};

// Reads a member header from the bytes at its start.
GzipParse ParseGzipHeader(std::span<const uint8_t> bytes, GzipHeader& header);

} // namespace dvl::formats
