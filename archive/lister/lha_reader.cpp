// LHA/LZH: local headers of levels 0 to 3, each followed by its data. Levels 1
// to 3 carry extended headers, of which the file-name (1) and directory-name
// (2) headers give the entry's name.
#include "archive/bytes.h"
#include "archive/dates.h"
#include "archive/lister/lorvex.h"
#include "archive/lister/method_names.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::lister {

namespace {

constexpr int kHeaderSize = 22;
constexpr size_t kMethodCharOffset = 5, kPackedOffset = 7, kOriginalOffset = 11, kTimeOffset = 15,
                 kAttributeOffset = 19, kLevelOffset = 20;
constexpr uint8_t kFileNameHeader = 1, kDirectoryHeader = 2;
constexpr uint32_t kArchiveAttribute = 0x20;
// Extended headers larger than this hold no names worth reading.
constexpr uint32_t kMaxExtendedHeader = 64 * 1024;
constexpr int kMaxExtendedHeaders = 256;

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

bool StartsDoubleByte(uint8_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFD);
}

// A stored directory: "/" and 0xFF separate its parts; the second byte of a
// double-byte character is kept as it is.
std::string DirectoryText(std::string_view stored) {
    stored = stored.substr(0, std::min(stored.find('\0'), stored.size()));
    std::string text;
    for (size_t i = 0; i < stored.size(); ++i) {
        const uint8_t c = uint8_t(stored[i]);
        if (StartsDoubleByte(c) && i + 1 < stored.size()) {
            text += stored.substr(i, 2);
            ++i;
        } else {
            text += c == '/' || c == 0xFF ? '\\' : char(c);
        }
    }
    size_t first = 0, last = text.size();
    while (first < last && IsBlankOrControl(text[first]))
        ++first;
    while (last > first && IsBlankOrControl(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

class LhaReader final : public Reader {
public:
    void Prepare(TLorvex& l) override { l.SetHeaderSize(kHeaderSize); }
    void Step(TLorvex& l) override;
};

void LhaReader::Step(TLorvex& l) {
    const uint8_t* h = l.Header();
    if (h[0] == 0) {
        l.EndWalk();
        return;
    }
    const int64_t start = l.HeaderPos - 1;
    const uint8_t level = h[kLevelOffset];
    const uint8_t method = h[kMethodCharOffset];
    const uint32_t packedField = Le32(h + kPackedOffset);
    const uint32_t original = Le32(h + kOriginalOffset);
    const uint32_t stamp = Le32(h + kTimeOffset);
    const uint8_t attribute = h[kAttributeOffset];

    // Where the extended headers begin and how wide their size fields are.
    int64_t extendedAt = 0, headerEnd = 0, next = 0;
    int sizeWidth = 2;
    uint32_t extendedSize = 0;
    std::string name;
    int64_t crcAt = start + 21; // the data's CRC-16
    if (level <= 1) {
        name = l.ReadCountedName(h[21]);
        crcAt = l.ReadPos;
        headerEnd = start + h[0] + 2;
        next = headerEnd + packedField;
        if (level == 1) {
            uint8_t size[2] = {};
            l.SeekInput(l.ReadPos + 3);
            l.ReadInput(size, 2);
            extendedSize = Le16(size);
            extendedAt = l.ReadPos + 5;
        }
    } else if (level == 2) {
        headerEnd = start + Le16(h);
        next = headerEnd + packedField;
        uint8_t size[2] = {};
        l.SeekInput(start + 24);
        l.ReadInput(size, 2);
        extendedSize = Le16(size);
        extendedAt = start + 26;
    } else if (level == 3) {
        uint8_t fields[8] = {};
        l.SeekInput(start + 24);
        l.ReadInput(fields, sizeof fields);
        sizeWidth = 4;
        headerEnd = start + Le32(fields);
        next = headerEnd + packedField;
        extendedSize = Le32(fields + 4);
        extendedAt = start + 32;
    } else {
        next = start + h[0] + 2 + packedField;
    }
    uint8_t crc[2] = {};
    l.SeekInput(crcAt);
    l.ReadInput(crc, sizeof crc);

    // The extended headers: type, data, the size of the next one.
    std::string directory;
    bool hasDirectory = false;
    int64_t extendedTotal = 0;
    std::vector<uint8_t> ext;
    for (int n = 0; n < kMaxExtendedHeaders && extendedSize > uint32_t(sizeWidth) &&
                    extendedSize <= kMaxExtendedHeader;
         ++n) {
        // Extended headers lie within the header (levels 2 and 3) or within
        // the counted data (level 1), so that a walk reads each byte once.
        if (extendedAt + extendedSize > (level == 1 ? next : headerEnd)) break;
        ext.assign(extendedSize, 0);
        l.SeekInput(extendedAt);
        if (l.ReadInput(ext.data(), ext.size()) < ext.size()) break;
        const std::string_view data(reinterpret_cast<const char*>(ext.data()) + 1,
                                    extendedSize - 1 - sizeWidth);
        if (ext[0] == kFileNameHeader)
            name = std::string(data.substr(0, std::min(data.find('\0'), data.size())));
        if (ext[0] == kDirectoryHeader) {
            directory = DirectoryText(data);
            hasDirectory = true;
        }
        extendedAt += extendedSize;
        extendedTotal += extendedSize;
        const uint8_t* size = ext.data() + extendedSize - sizeWidth;
        extendedSize = sizeWidth == 4 ? Le32(size) : Le16(size);
    }

    l.SetEntryName(name);
    l.FireReadFile(); // the name as stored, before its directory is added
    if (hasDirectory) l.SetEntryName(directory, name);

    // Level 1 counts its extended headers in the compressed size.
    const int64_t packed =
        level == 1 ? std::max<int64_t>(int64_t(packedField) - extendedTotal, 0) : packedField;
    if (next <= start) {
        l.EndWalk();
    } else {
        l.ReadPos = next;
    }
    if (!l.MatchesSpec()) return;
    l.CountEntry();
    l.AddTotals(packed, original);
    l.FileDate = level >= 2 ? TLorvex::ConvertUnixDate(stamp) : l.ConvertFileDate(stamp);
    l.VersionMadeBy = l.VersionNeeded = 0;
    l.PackedSize = packed;
    l.UnpackedSize = original;
    l.CRC = Le16(crc);
    l.Encrypted = 0;
    l.MethodCode = method;
    l.MethodName = MethodNameFor(l.ArcType(), method);
    l.InternalAttr = kArchiveAttribute;
    l.ExternalAttr = attribute;
    l.Ratio = ComputeRatio(packed, original);
    l.ReportEntry(int32_t(start), l.EntryCount());
}

} // namespace

std::unique_ptr<Reader> MakeLhaReader() {
    return std::make_unique<LhaReader>();
}

} // namespace dvl::lister
