// Windows file attributes on POSIX.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace dvl::platform {

enum : uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolume = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
};

// Read-only = no owner write bit; hidden = name starts with "."; directory;
// archive on every plain file; system and volume never. Empty when missing.
std::optional<uint32_t> GetFileAttributes(std::string_view winPath);

// Applies the 32-bit external attributes of an archive entry to a file that was
// written: read-only from bit 0 and, when the high 16 bits hold a Unix
// regular-file mode, its permission bits (0777 only; never set-id bits).
bool ApplyExternalAttributes(std::string_view winPath, uint32_t externalAttr);
// The same for a plain file that is open for writing.
bool ApplyExternalAttributes(File& file, uint32_t externalAttr);

} // namespace dvl::platform
