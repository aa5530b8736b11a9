// The entry source of archives that are one stream: TAR, and the
// single-stream compressors with a TAR inside or one file.
#pragma once

#include "archive/extract/source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dvl::extract {

enum class StreamKind { None, Tar, Gzip, Compress, Pack, LzhCompress, Bzip2, Xz, LzmaAlone, Zstd };

// What the first bytes at `start` (zero-based) say the file is.
StreamKind DetectStream(const std::string& archivePath, int64_t start);
// True when the file is a TAR, or a compressed stream whose first block is
// a TAR header.
bool StreamHoldsTar(const std::string& archivePath, int64_t start);
// Null for None and for kinds no codec here decodes.
std::unique_ptr<EntrySource> MakeStreamSource(const std::string& archivePath, int64_t start,
                                              StreamKind kind);

} // namespace dvl::extract
