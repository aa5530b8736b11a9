// ARJ headers as every ARJ reader here reads them: the main header at the
// archive's start and the local header before each file's data, both a
// "basic header" (fixed fields, name, comment) with its CRC-32, followed by a
// chain of extended headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace dvl::formats {

constexpr uint16_t kArjHeaderId = 0xEA60;
constexpr size_t kArjMaxBasicSize = 2600;
// The id, the basic header size and the oldest fixed part (first size 30).
constexpr size_t kArjMinimumHeader = 4 + 30;

enum ArjFlags : uint8_t {
    kArjGarbled = 0x01,
    kArjVolume = 0x04,       // the file goes on in the next volume
    kArjExtendedFile = 0x08, // a part continued from the previous volume
    kArjPathSymbols = 0x10,  // the name's "\" were stored as "/"
    kArjBackup = 0x20,
};

enum ArjFileType : uint8_t {
    kArjBinary = 0,
    kArjText = 1,
    kArjMainHeader = 2,
    kArjFolder = 3,
    kArjVolumeLabel = 4,
};

constexpr uint8_t kArjHostDos = 0;
constexpr uint8_t kArjHostUnix = 2;

// Garbling newer than the classic XOR one (a main-header field).
constexpr uint8_t kArjFirstUnknownEncryption = 2;

enum class ArjHeaderKind { Main, Local };

struct ArjHeader {
    uint16_t basicSize = 0;
    uint8_t firstSize = 0, version = 0, versionNeeded = 0, hostOs = 0, flags = 0, method = 0,
            fileType = 0;
    uint8_t passwordModifier = 0; // added to each password byte of a garbled file
    uint32_t dateTime = 0;        // DOS, or seconds since 1970 from Unix hosts
    uint32_t packedSize = 0, originalSize = 0, fileCrc = 0;
    uint16_t fileSpecPosition = 0, accessMode = 0, hostData = 0;
    uint32_t partPosition = 0;     // of a continued part: where in the file it begins
    uint8_t encryptionVersion = 0; // main header
    std::string name, comment;     // as stored
    bool crcMatches = false;       // the basic header's CRC-32
    size_t size = 0;               // with its CRC and extended headers: the data follows
};

enum class ArjParse {
    Ok,
    End,       // the empty header that closes an archive
    NotHeader, // no id, or fields that no header holds
    Truncated, // the bytes end inside the header
};

// The header at the start of `bytes`.
ArjParse ParseArjHeader(std::span<const uint8_t> bytes, ArjHeaderKind kind, ArjHeader& header);

} // namespace dvl::formats
