#include "unace/ace_blocks.h"

#include "archive/bytes.h"
#include "unace/ace_crc.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace dvl::unace {

const char kAceSignature[7] = {'*', '*', 'A', 'C', 'E', '*', '*'};

namespace {

// Sizes beyond this cannot be real and would overflow file offsets.
constexpr uint64_t kLargestDataSize = uint64_t(1) << 60;

uint64_t Le64(const uint8_t* p) {
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

// The 64-bit file header has 8-byte size fields; the 32-bit one keeps 4-byte
// fields even when flag 0x0004 is set.
size_t SizeFieldWidth(uint8_t type, uint16_t flags) {
    if (type == kBlockFile64) return 8;
    if (type == kBlockFile32 || type == 2) return 4;
    return (flags & kFlagWideSizes) ? 8 : 4;
}

} // namespace

BlockStatus ParseBlock(uint16_t headCrc, std::vector<uint8_t> header, int64_t offset,
                       Block& block) {
    if (header.size() < 3) return BlockStatus::Broken;
    if (uint16_t(AceCrc(header.data(), header.size())) != headCrc) return BlockStatus::BadCrc;
    block.offset = offset;
    block.type = header[0];
    block.flags = Le16(&header[1]);
    block.dataSize = 0;
    if (block.type == kBlockFile64 && !(block.flags & kFlagWideSizes)) return BlockStatus::Broken;
    if (block.flags & kFlagAddSize) {
        const size_t width = SizeFieldWidth(block.type, block.flags);
        if (header.size() < 3 + width) return BlockStatus::Broken;
        block.dataSize = width == 8 ? Le64(&header[3]) : Le32(&header[3]);
        if (block.dataSize > kLargestDataSize) return BlockStatus::Broken;
    }
    block.header = std::move(header);
    return BlockStatus::Ok;
}

BlockStatus ReadBlock(platform::File& file, int64_t offset, Block& block) {
    file.Seek(offset);
    uint8_t start[4];
    const size_t got = file.Read(start, sizeof start);
    if (got == 0) return BlockStatus::End;
    if (got < sizeof start) return BlockStatus::Truncated;
    std::vector<uint8_t> header(Le16(start + 2));
    if (file.Read(header.data(), header.size()) < header.size()) return BlockStatus::Truncated;
    return ParseBlock(Le16(start), std::move(header), offset, block);
}

bool ParseMainHeader(const Block& block, MainHeader& main) {
    const std::vector<uint8_t>& h = block.header;
    if (block.type != kBlockMain || h.size() < kMainHeaderMinSize) return false;
    if (!std::equal(std::begin(kAceSignature), std::end(kAceSignature), h.begin() + 3))
        return false;
    main.flags = block.flags;
    main.versionToExtract = h[10];
    main.versionCreated = h[11];
    main.host = h[12];
    main.volumeNumber = h[13];
    main.time = Le32(&h[14]);
    return true;
}

bool IsFileBlock(const Block& block) {
    return block.type == kBlockFile32 || block.type == kBlockFile64;
}

bool ParseFileHeader(const Block& block, FileHeader& file) {
    const std::vector<uint8_t>& h = block.header;
    if (!IsFileBlock(block)) return false;
    const size_t width = SizeFieldWidth(block.type, block.flags);
    // Offsets below count from HEAD_TYPE: the two size fields, then the fixed
    // part of 20 bytes that ends with FNAME_SIZE.
    const size_t fixed = 3 + 2 * width;
    if (h.size() < fixed + 20) return false;
    const size_t nameSize = Le16(&h[fixed + 18]);
    if (h.size() < fixed + 20 + nameSize) return false;
    file.flags = block.flags;
    file.packSize = block.dataSize;
    file.origSize = width == 8 ? Le64(&h[3 + width]) : Le32(&h[3 + width]);
    file.time = Le32(&h[fixed]);
    file.attributes = Le32(&h[fixed + 4]);
    file.crc = Le32(&h[fixed + 8]);
    file.compType = h[fixed + 12];
    file.compQuality = h[fixed + 13];
    file.parm = Le16(&h[fixed + 14]);
    const char* name = reinterpret_cast<const char*>(&h[fixed + 20]);
    file.name.assign(name, nameSize);
    file.name.resize(file.name.find('\0') == std::string::npos ? nameSize : file.name.find('\0'));
    return true;
}

} // namespace dvl::unace
