// Builds small ZIP archives byte by byte, for cases no archiver writes:
// hostile names, odd attributes, damaged records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvl::test {

struct ZipEntrySpec {
    std::string name{};
    std::vector<uint8_t> data{};   // stored as is (method 0) unless packed is set
    std::vector<uint8_t> packed{}; // the entry's data as written when method != 0
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t dosDateTime = 0x5A214C6A; // 2025-01-01 09:35:20
    uint32_t externalAttr = 0x20;
    uint32_t localSignature = 0x04034B50;
    int64_t crcOverride = -1;  // the stored CRC when >= 0
    int64_t sizeOverride = -1; // the stored uncompressed size when >= 0
    // An earlier entry whose local header and data this one's central header
    // points at; it writes no local record of its own.
    int sharesDataWith = -1;
    uint16_t versionMadeBy = 20;  // high byte: the host (0 MS-DOS, 3 Unix)
    std::vector<uint8_t> extra{}; // the extra field, local and central
};

class ZipWriter {
public:
    void Add(const ZipEntrySpec& entry) { entries_.push_back(entry); }
    // The archive, with `prefix` in front (offsets then count from the file
    // start unless relativeToPrefix is set) and an optional archive comment.
    std::vector<uint8_t> Build(const std::vector<uint8_t>& prefix = {},
                               bool relativeToPrefix = false,
                               const std::string& comment = "") const;

private:
    std::vector<ZipEntrySpec> entries_;
};

uint32_t Crc32(const std::vector<uint8_t>& data);

} // namespace dvl::test
