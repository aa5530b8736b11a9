// An entry as the extraction layer sees it, whatever its format: what an entry
// source knows of it before its data is decoded.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace dvl::extract {

enum class EntryKind { File, Folder, SymbolicLink, HardLink, Other };

// The check value the archive stores for an entry's data.
enum class CheckKind { None, Crc32, Crc16 };

struct Entry {
    std::string name; // converted (ANSI), folders separated by "\"
    EntryKind kind = EntryKind::File;
    std::string linkTarget;         // of a link: the stored target ("\" separated)
    std::optional<uint64_t> size{}; // the unpacked size, where the archive stores one
    uint64_t packedSize = 0;        // for listings and ratios
    CheckKind check = CheckKind::None;
    uint32_t checkValue = 0;
    std::string method;                    // as listings name it ("Deflate", "LZX" ...)
    std::optional<std::time_t> modified{}; // Unix time
    uint32_t attributes = 0x20;            // MS-DOS attributes (read-only in bit 0)
    std::optional<uint32_t> unixMode{};    // permission bits where stored
    bool encrypted = false;
};

} // namespace dvl::extract
