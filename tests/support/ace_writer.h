// Builds ACE archives byte by byte: stored members, members with a given
// packed payload, solid archives, multi-volume sets with split members, a
// self-extractor stub, and blocks a reader must step over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvl::test {

constexpr uint32_t kAceTestTime = 0x5ACF645C; // 2025-06-15 12:34:56

struct AceMemberSpec {
    std::string name{};          // as stored, "\" separated
    std::vector<uint8_t> data{}; // the unpacked content
    // The data as written when compType != 0 (for example LZ77 output).
    std::vector<uint8_t> packed{};
    uint8_t compType = 0;
    uint8_t quality = 0;
    uint16_t parm = 0;
    uint16_t extraFlags = 0; // e.g. 0x4000 (encrypted)
    uint32_t attributes = 0x20;
    uint32_t time = kAceTestTime;
    bool directory = false;
    bool wideHeader = false;  // type 3 header with 64-bit sizes
    int64_t crcOverride = -1; // the stored data CRC when >= 0
};

struct AceArchiveSpec {
    std::vector<AceMemberSpec> members{};
    bool solid = false;
    uint8_t versionToExtract = 10;
    std::vector<uint8_t> sfxStub{};     // bytes in front of the first volume
    std::vector<uint8_t> mainComment{}; // compressed comment bytes (flag 0x0002)
    bool recoveryRecord = false;        // a type 2 block after the members
    bool unknownBlock = false;          // a block of an unknown type before the members
};

// A single-volume archive.
std::vector<uint8_t> BuildAceArchive(const AceArchiveSpec& spec);

// A multi-volume set: each volume holds at most dataPerVolume bytes of member
// data; members that do not fit are split and continue in the next volume.
std::vector<std::vector<uint8_t>> BuildAceVolumes(const AceArchiveSpec& spec, size_t dataPerVolume);

// The ACE CRC register (no final inversion) over the bytes.
uint32_t AceRawCrc(const std::vector<uint8_t>& data);

} // namespace dvl::test
