// Cabinet (CAB) records as every CAB reader here reads them: the cabinet
// header with its reserve areas and the names of the cabinets before and
// after it in a set, the folder table, file records and data blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dvl::formats {

enum CabFlags : uint16_t {
    kCabHasPrevious = 0x0001,
    kCabHasNext = 0x0002,
    kCabHasReserve = 0x0004,
};

// Folder indices of files that do not begin in this cabinet's own folders.
constexpr uint16_t kCabContinuedFromPrevious = 0xFFFD;
constexpr uint16_t kCabContinuedToNext = 0xFFFE;
constexpr uint16_t kCabContinuedBoth = 0xFFFF;
constexpr uint16_t kCabNameIsUtf8 = 0x80; // file attribute

constexpr size_t kCabFixedHeaderSize = 36;
constexpr size_t kCabFileFixedSize = 16;
constexpr size_t kCabDataFixedSize = 8;

struct CabFolderRecord {
    uint32_t dataOffset = 0; // of its first data block, from the cabinet's start
    uint16_t blockCount = 0;
    uint16_t compression = 0; // method in bits 0-3, window bits in 8-12
};

struct CabHeader {
    uint32_t cabinetSize = 0, filesOffset = 0;
    uint8_t versionMinor = 0, versionMajor = 0;
    uint16_t folderCount = 0, fileCount = 0, flags = 0, setId = 0, cabinetIndex = 0;
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0, dataReserve = 0;
    std::string previousCabinet, previousDisk, nextCabinet, nextDisk;
    std::vector<CabFolderRecord> folders;
};

enum class CabParse { Ok, NotCabinet, Truncated };

// The header and folder table from the bytes at the cabinet's start.
CabParse ParseCabHeader(std::span<const uint8_t> bytes, CabHeader& header);

struct CabFileRecord {
    uint32_t size = 0, folderOffset = 0;
    uint16_t folder = 0, date = 0, time = 0, attributes = 0;
    std::string name; // as stored
    size_t recordSize = 0;
};

// A file record from its bytes; false when they end before its name does.
bool ParseCabFile(std::span<const uint8_t> bytes, CabFileRecord& file);

// The checksum of data blocks: 32-bit words (little-endian) folded by XOR,
// the last partial word taken high byte first.
uint32_t CabChecksum(const uint8_t* data, size_t n, uint32_t seed);

} // namespace dvl::formats
