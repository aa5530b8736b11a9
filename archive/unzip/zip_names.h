// The name of a ZIP entry as text: ZIP names are OEM text unless something
// says they are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dvl::unzip {

// What besides its bytes tells how an entry's name is written.
struct ZipNameFields {
    uint16_t flags = 0;         // general-purpose flags (bit 11: UTF-8)
    uint16_t versionMadeBy = 0; // high byte: the host that made the entry
    std::string_view extra{};   // the central header's extra field
};

// The stored name as ANSI (UTF-8) text with backslashes. It is UTF-8 when
// flag bit 11 says so, when a Unicode path extra field (0x7075) whose CRC
// matches the stored name carries it (that name is taken), or when a Unix
// host made it and it is valid UTF-8; otherwise it is OEM text.
std::string ZipEntryName(std::string_view stored, const ZipNameFields& fields);

// True when the name is read as OEM text (so its code page matters).
bool ZipNameIsOem(std::string_view stored, const ZipNameFields& fields);

} // namespace dvl::unzip
