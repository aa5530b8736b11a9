// Where the archive proper begins in a volume: at offset 0, or behind a
// self-extractor stub.
#pragma once

#include "platform/file.h"
#include "unace/ace_blocks.h"

#include <cstdint>

namespace dvl::unace {

// Signatures are looked for below this offset (the reference search range).
constexpr int64_t kSignatureSearchRange = 512 * 1024;

enum class StartStatus {
    Found,
    NotAce,       // no valid main header within the search range
    BrokenHeader, // a main header at offset 0 whose CRC or size is wrong
};

struct ArchiveStart {
    StartStatus status = StartStatus::NotAce;
    MainHeader main;
    int64_t firstBlock = 0; // offset of the block after the main header
};

// Throws platform::IoError.
ArchiveStart FindArchiveStart(platform::File& file);

} // namespace dvl::unace
