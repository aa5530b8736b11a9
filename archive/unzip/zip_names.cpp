#include "archive/unzip/zip_names.h"

#include "archive/bytes.h"
#include "archive/codecs/crc32.h"
#include "archive/text.h"
#include "archive/unzip/zip_records.h"

namespace dvl::unzip {

namespace {

constexpr uint16_t kUnicodePathField = 0x7075;
constexpr uint8_t kUnicodePathVersion = 1;
constexpr uint8_t kHostUnix = 3, kHostMacOsX = 19;

// The UTF-8 name of a Unicode path field that belongs to this stored name;
// empty when there is none or it was made for another name.
std::string_view UnicodePath(std::string_view stored, std::string_view extra) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(extra.data());
    size_t pos = 0;
    while (pos + 4 <= extra.size()) {
        const uint16_t id = Le16(bytes + pos), size = Le16(bytes + pos + 2);
        const size_t body = pos + 4;
        if (body + size > extra.size()) break;
        if (id == kUnicodePathField && size >= 5 && bytes[body] == kUnicodePathVersion) {
            const uint32_t crc = ~codecs::CrcUpdate(
                0xFFFFFFFF, reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
            if (Le32(bytes + body + 1) == crc && IsValidUtf8(extra.substr(body + 5, size - 5)))
                return extra.substr(body + 5, size - 5);
        }
        pos = body + size;
    }
    return {};
}

bool MadeOnUnixWithUtf8(std::string_view stored, uint16_t versionMadeBy) {
    const uint8_t host = uint8_t(versionMadeBy >> 8);
    return (host == kHostUnix || host == kHostMacOsX) && IsValidUtf8(stored);
}

} // namespace

std::string ZipEntryName(std::string_view stored, const ZipNameFields& fields) {
    if (fields.flags & kFlagUtf8Names) return SlashToBackslash(stored);
    const std::string_view unicode = UnicodePath(stored, fields.extra);
    if (!unicode.empty()) return SlashToBackslash(unicode);
    if (MadeOnUnixWithUtf8(stored, fields.versionMadeBy)) return SlashToBackslash(stored);
    return OemToAnsiName(stored);
}

bool ZipNameIsOem(std::string_view stored, const ZipNameFields& fields) {
    return !(fields.flags & kFlagUtf8Names) && UnicodePath(stored, fields.extra).empty() &&
           !MadeOnUnixWithUtf8(stored, fields.versionMadeBy);
}

} // namespace dvl::unzip
