// ZOO records as every ZOO reader here reads them: the archive header, which
// points at the first directory entry, and the directory entries, each
// pointing at the next and at its file's data. New-style entries (type 2)
// add a variable part: a long name, a directory name and file attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace dvl::formats {

constexpr uint32_t kZooTag = 0xFDC4A7DC;
// What the lister reads of each record before the rest.
constexpr size_t kZooHeaderRead = 58;
// An entry with both names at their longest and its attributes fits in this.
constexpr size_t kZooEntryRead = kZooHeaderRead + 2 * 255 + 16;

constexpr uint8_t kZooEntryWithVariablePart = 2;

struct ZooArchiveHeader {
    bool tagMatches = false;
    uint32_t firstEntry = 0;
    uint32_t commentAt = 0;
    uint16_t commentLength = 0;
};

enum class ZooParse { Ok, NotZoo, Truncated };

// The archive header at the start of `bytes`. NotZoo when its first entry's
// position and the stored negation of it disagree.
ZooParse ParseZooArchiveHeader(std::span<const uint8_t> bytes, ZooArchiveHeader& header);

struct ZooEntry {
    bool tagMatches = false;
    bool crcMatches = false; // the entry's own CRC-16 (new-style entries; old ones have none)
    uint8_t type = 0, method = 0;
    uint32_t next = 0;     // the next entry; 0 in the entry that closes the chain
    uint32_t dataAt = 0;   // the file's data
    uint32_t dateTime = 0; // DOS, date word first
    uint16_t crc = 0;      // CRC-16 of the file
    uint32_t originalSize = 0, packedSize = 0;
    uint8_t majorVersion = 0, minorVersion = 0;
    bool deleted = false; // an older generation of a file
    uint32_t commentAt = 0;
    uint16_t commentLength = 0;
    std::string shortName, longName, directory; // as stored, up to their zero bytes
    std::optional<uint32_t> unixMode;           // permission bits, where stored
};

// The directory entry at the start of `bytes`.
ZooParse ParseZooEntry(std::span<const uint8_t> bytes, ZooEntry& entry);

} // namespace dvl::formats
