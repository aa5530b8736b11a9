// Display names of the compression methods, per archive format.
#pragma once

#include "archive/arc_type.h"

#include <cstdint>
#include <string>

namespace dvl::lister {

// What besides the method number decides a name.
struct MethodHints {
    uint16_t zipFlags = 0;    // ZIP general-purpose flags (the deflate option bits)
    uint32_t attributes = 0;  // ZIP external / RAR / LHA file attributes (0x10: a folder)
    uint8_t fileType = 0;     // ARJ file type (3: a folder)
    uint8_t headerMethod = 0; // ARC: the method byte of the current header (30: a folder)
};

// The name (at most 8 characters) of a method number of an archive type; empty
// for a type without a method table (TAR and UUE readers set their own).
std::string MethodNameFor(TArcType type, uint32_t method, const MethodHints& hints = {});

} // namespace dvl::lister
