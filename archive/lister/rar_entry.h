// What the readers of both RAR formats share: the marker blocks, the reader of
// the later format, and the listing of one file header.
#pragma once

#include "archive/lister/reader.h"

#include <cstdint>
#include <memory>

namespace dvl {

class TLorvex;

namespace lister {

constexpr int64_t kRarMarkerSize = 7;  // 52 61 72 21 1A 07 00
constexpr int64_t kRar5MarkerSize = 8; // 52 61 72 21 1A 07 01 00
constexpr uint8_t kRar5MarkerByte = 1; // the seventh marker byte of the later format
constexpr uint32_t kRarDirectoryAttribute = 0x10;
// Stands for an archive comment that is not read.
constexpr const char* kRarCommentNotice = "Archive Comment encrypted...";

// A file header as both formats have it, in the lister's terms.
struct RarEntry {
    int64_t start = 0; // zero-based offset of the header
    int64_t packed = 0, unpacked = 0;
    double date = 0;
    uint8_t unpackVersion = 0;
    uint8_t method = 0; // 0x30 (stored) to 0x35 (best)
    uint32_t crc = 0;
    uint32_t attributes = 0;
    bool encrypted = false;
    bool directory = false;
};

// Filters the entry (a directory passes when ShowBlankDirs is set), counts,
// fills and reports it. FileName is set and OnReadFile has fired.
void ReportRarEntry(TLorvex& l, const RarEntry& e);

// The walk of the later format, from the block after its marker.
std::unique_ptr<Reader> MakeRar5Reader();

} // namespace lister
} // namespace dvl
