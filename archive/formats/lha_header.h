// LHA/LZH local headers as every LHA reader here reads them: header levels 0
// to 3, each followed by its entry's data; levels 1 to 3 (and level 1's
// extended headers, which it counts in the packed size) carry a chain of
// extended headers with names, sizes, times and permissions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dvl::formats {

// Bytes of an archive by position.
class LhaInput {
public:
    virtual ~LhaInput() = default;
    // Up to n bytes at `offset` into `buffer`; the count read (short at the end).
    virtual size_t ReadAt(int64_t offset, uint8_t* buffer, size_t n) = 0;
    virtual int64_t Size() const = 0;
};

// The fixed part every level begins with.
constexpr size_t kLhaBaseSize = 22;

struct LhaHeader {
    int64_t start = 0; // of the header in the file
    uint8_t level = 0;
    std::string method;        // the five characters, "-lh5-"
    uint64_t packedSize = 0;   // of the data alone (level 1: without its extended headers)
    uint64_t originalSize = 0; // the size extension header (0x42) overrides both
    uint32_t packedField = 0;  // the 32-bit field as stored (level 1: with extended headers)
    int64_t dataOffset = 0;    // where the data begins
    int64_t nextHeader = 0;    // where the next header begins
    std::optional<uint16_t> dataCrc{};  // CRC-16 of the decoded data (old level 0: none)
    uint32_t dosTime = 0;               // levels 0 and 1: time word low, date word high
    std::optional<int64_t> unixTime{};  // levels 2 and 3, or the Unix time extension (0x54)
    uint8_t attribute = 0x20;           // MS-DOS (the attribute extension 0x40 overrides)
    std::optional<uint16_t> unixMode{}; // type and permission bits (0x50, level 0 Unix area)
    uint8_t osId = 0;                   // 'M', 'U', 'A', '2' ... (0: none stored)
    std::string name;                   // as stored, without an Amiga comment or a link target
    std::string directory;              // as stored in the directory header (0xFF separates)
    bool hasDirectory = false;
    std::string unicodeName; // UTF-8, from the UTF-16 name headers (0x44, 0x45); may be empty
    std::string unicodeDirectory;
    std::string comment;    // the Amiga file comment after a zero byte in the name
    std::string linkTarget; // of a symbolic link stored as "name|target"
    bool folder = false;    // method -lhd- and no link
    bool symbolicLink = false;
    bool checksumMatches = true; // the header's checksum (level 0, 1) or CRC-16 (ext 0x00)
    bool extendedIntact = true;  // the extended-header chain ended where it should
    int64_t extendedTotal = 0;   // level 1: bytes of extended headers before the data
};

enum class LhaParse {
    Ok,
    End,       // the zero byte that closes an archive, or the file's end
    NotHeader, // fields that no header holds, or an extended header chain that breaks
    Truncated, // the file ends inside the header
};

// The header at `start`. The data may still reach beyond the file's end:
// dataOffset + packedSize against the input's size says so.
LhaParse ParseLhaHeader(LhaInput& input, int64_t start, LhaHeader& header);

// True for bytes that may begin a header: a method id "-xxx-" at offset 2, a
// plausible size and level and, for levels 0 and 1, a matching checksum when
// the whole base header is in view.
bool LooksLikeLhaHeader(const uint8_t* bytes, size_t available);

// The directory header's text: "/" and 0xFF become "\" (but not the second
// byte of a double-byte character), the ends trimmed of blanks and controls.
std::string LhaDirectoryText(std::string_view stored);

// The stored (OEM) path: directory and name joined by "\".
std::string LhaStoredPath(const LhaHeader& header);
// The Unicode path (UTF-8, "\" separated) when the header carries one, else empty.
std::string LhaUnicodePath(const LhaHeader& header);

} // namespace dvl::formats
