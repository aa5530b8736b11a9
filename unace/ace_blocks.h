// The blocks of an ACE volume: the common block header with its CRC, and the
// fields of the main header and of the file headers.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dvl::unace {

enum : uint8_t { kBlockMain = 0, kBlockFile32 = 1, kBlockFile64 = 3 };

enum : uint16_t {
    kFlagAddSize = 0x0001,
    kFlagComment = 0x0002,
    kFlagWideSizes = 0x0004,
    // main header
    kMainSfx = 0x0200,
    kMainMultiVolume = 0x0800,
    kMainSolid = 0x8000,
    // file header
    kFileContinuedFromPrevious = 0x1000,
    kFileContinuedInNext = 0x2000,
    kFileEncrypted = 0x4000,
};

constexpr size_t kMainHeaderMinSize = 27; // HEAD_SIZE of a main header without AV or comment
extern const char kAceSignature[7];

// One block as read from a volume. `header` holds the HEAD_SIZE bytes from
// HEAD_TYPE on, so header[0] is the type and header[1..2] the flags.
struct Block {
    int64_t offset = 0; // of the HEAD_CRC field
    std::vector<uint8_t> header;
    uint8_t type = 0;
    uint16_t flags = 0;
    uint64_t dataSize = 0; // ADDSIZE when flag 0x0001 is set, else 0

    int64_t DataOffset() const { return offset + 4 + int64_t(header.size()); }
    int64_t End() const { return DataOffset() + int64_t(dataSize); }
};

enum class BlockStatus {
    Ok,
    End,       // no byte left at a block boundary
    Truncated, // the file ends inside the block header
    BadCrc,    // the header CRC does not match
    Broken,    // the header is too short for the fields it announces
};

// Checks and splits HEAD_SIZE bytes of a header that starts at `offset` whose
// HEAD_CRC field held headCrc.
BlockStatus ParseBlock(uint16_t headCrc, std::vector<uint8_t> header, int64_t offset, Block& block);
// Reads the block that starts at `offset`. Throws platform::IoError.
BlockStatus ReadBlock(platform::File& file, int64_t offset, Block& block);

struct MainHeader {
    uint16_t flags = 0;
    uint8_t versionToExtract = 0;
    uint8_t versionCreated = 0;
    uint8_t host = 0;
    uint8_t volumeNumber = 0;
    uint32_t time = 0;
};
// False when the block is not a complete main header.
bool ParseMainHeader(const Block& block, MainHeader& main);

struct FileHeader {
    uint16_t flags = 0;
    uint64_t packSize = 0; // data bytes of this segment
    uint64_t origSize = 0; // of the whole member
    uint32_t time = 0;     // MS-DOS date and time
    uint32_t attributes = 0;
    uint32_t crc = 0;
    uint8_t compType = 0;
    uint8_t compQuality = 0;
    uint16_t parm = 0;
    std::string name; // as stored (OEM, "\" separated), up to a zero byte

    bool IsDirectory() const { return (attributes & 0x10) != 0; }
    bool ContinuesInNext() const { return (flags & kFileContinuedInNext) != 0; }
    bool ContinuesPrevious() const { return (flags & kFileContinuedFromPrevious) != 0; }
    bool Encrypted() const { return (flags & kFileEncrypted) != 0; }
    int DictionaryBits() const { return 10 + (parm & 15); }
};
bool IsFileBlock(const Block& block);
// False when the block is not a complete file header.
bool ParseFileHeader(const Block& block, FileHeader& file);

} // namespace dvl::unace
