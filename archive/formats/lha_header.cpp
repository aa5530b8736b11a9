#include "archive/formats/lha_header.h"

#include "archive/bytes.h"
#include "archive/codecs/crc16.h"
#include "archive/text.h"

#include <algorithm>
#include <vector>

namespace dvl::formats {

namespace {

constexpr size_t kMethodAt = 2, kPackedAt = 7, kOriginalAt = 11, kTimeAt = 15, kAttributeAt = 19,
                 kLevelAt = 20, kNameLengthAt = 21;
// Levels 2 and 3: the data's CRC-16, the OS id and the first extended
// header's size follow the base.
constexpr size_t kLevel2Fixed = 26, kLevel3Fixed = 32;
constexpr size_t kDataCrcAt = 21, kOsIdAt = 23, kLevel3SizeAt = 24;
// A level-3 header holds no more than names and times; anything larger is damage.
constexpr int64_t kMaxLevel3Header = 1 << 20;
constexpr int kMaxExtendedHeaders = 256;
// Unix LHA's level-0 area after the CRC: 'U', a minor version, the Unix time,
// the mode, the user and group ids.
constexpr size_t kLevel0UnixArea = 12;

enum ExtendedType : uint8_t {
    kExtHeaderCrc = 0x00,
    kExtName = 0x01,
    kExtDirectory = 0x02,
    kExtDosAttribute = 0x40,
    kExtSizes = 0x42,
    kExtUnicodeName = 0x44,
    kExtUnicodeDirectory = 0x45,
    kExtUnixMode = 0x50,
    kExtUnixTime = 0x54,
};

constexpr uint16_t kUnixTypeMask = 0xF000, kUnixLink = 0xA000;

uint64_t Le64(const uint8_t* p) {
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

bool StartsDoubleByte(uint8_t c) {
    return (c >= 0x80 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFD);
}

// UTF-16LE text up to its first zero; "/", "\" and U+FFFF separate folders.
std::string Utf16Path(std::string_view data) {
    std::string out;
    const auto unit = [&](size_t i) { return Le16(reinterpret_cast<const uint8_t*>(&data[i])); };
    for (size_t i = 0; i + 2 <= data.size(); i += 2) {
        uint32_t c = unit(i);
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 4 <= data.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // an unpaired surrogate
        }
        if (c == '/' || c == 0xFFFF) c = '\\';
        AppendUtf8(out, c);
    }
    return out;
}

bool IsMethodId(const uint8_t* m) {
    if (m[0] != '-' || m[4] != '-') return false;
    return std::all_of(m + 1, m + 4, [](uint8_t c) { return c > 0x20 && c < 0x7F; });
}

uint8_t ByteSum(const uint8_t* p, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum = uint8_t(sum + p[i]);
    return sum;
}

bool ReadExactly(LhaInput& input, int64_t at, size_t n, std::vector<uint8_t>& bytes) {
    bytes.resize(n);
    return input.ReadAt(at, bytes.data(), n) == n;
}

// The extended headers of a level-2 or level-3 header lie in its bytes; those
// of a level-1 header follow it and are read one by one.
class ExtendedChain {
public:
    ExtendedChain(LhaInput& input, LhaHeader& header, int width)
        : input_(input), header_(header), width_(width) {}

    // Walks from `at` while the sizes allow, none reaching past `limit`.
    // `inMemory` holds the header's bytes from header.start, if read already.
    LhaParse Walk(int64_t at, int64_t limit, uint32_t size, const std::vector<uint8_t>* inMemory) {
        std::vector<uint8_t> ext;
        for (int n = 0; size != 0; ++n) {
            if (n >= kMaxExtendedHeaders || size < uint32_t(1 + width_) || at + size > limit) {
                header_.extendedIntact = false;
                return LhaParse::Ok;
            }
            if (inMemory) {
                const auto from = inMemory->begin() + (at - header_.start);
                ext.assign(from, from + size);
            } else if (!ReadExactly(input_, at, size, ext)) {
                return LhaParse::Truncated;
            }
            Apply(ext, at);
            at += size;
            header_.extendedTotal += size;
            const uint8_t* next = ext.data() + size - width_;
            size = width_ == 4 ? Le32(next) : Le16(next);
        }
        return LhaParse::Ok;
    }

    // Where the header CRC (extended header 0) lies, and what it says.
    std::optional<int64_t> headerCrcAt;
    uint16_t headerCrc = 0;
    bool sizesExtended = false; // the size header (0x42) gave 64-bit sizes

private:
    void Apply(const std::vector<uint8_t>& ext, int64_t at) {
        const std::string_view data(reinterpret_cast<const char*>(ext.data()) + 1,
                                    ext.size() - 1 - size_t(width_));
        const auto bytes = reinterpret_cast<const uint8_t*>(data.data());
        switch (ext[0]) {
        case kExtHeaderCrc:
            if (data.size() >= 2) {
                headerCrcAt = at + 1;
                headerCrc = Le16(bytes);
            }
            break;
        case kExtName:
            header_.name = std::string(UpToZero(data));
            break;
        case kExtDirectory:
            header_.directory = std::string(data);
            header_.hasDirectory = true;
            break;
        case kExtDosAttribute:
            if (data.size() >= 1) header_.attribute = bytes[0];
            break;
        case kExtSizes:
            if (data.size() >= 16) {
                header_.packedSize = Le64(bytes);
                header_.originalSize = Le64(bytes + 8);
                sizesExtended = true;
            }
            break;
        case kExtUnicodeName:
            header_.unicodeName = Utf16Path(data);
            break;
        case kExtUnicodeDirectory:
            header_.unicodeDirectory = Utf16Path(data);
            break;
        case kExtUnixMode:
            if (data.size() >= 2) header_.unixMode = Le16(bytes);
            break;
        case kExtUnixTime:
            if (data.size() >= 4) header_.unixTime = int64_t(Le32(bytes));
            break;
        default:
            break;
        }
    }

    LhaInput& input_;
    LhaHeader& header_;
    int width_;
};

// The CRC-16 of a whole header, taken with its own field as zeros.
bool HeaderCrcMatches(std::vector<uint8_t>& header, size_t fieldAt, uint16_t stored) {
    header[fieldAt] = header[fieldAt + 1] = 0;
    return codecs::Crc16Update(0, header.data(), header.size()) == stored;
}

// Levels 0 and 1: the base header counts its own size in byte 0.
LhaParse ParseLowLevel(LhaInput& input, const std::vector<uint8_t>& base, LhaHeader& h) {
    const size_t baseSize = size_t(base[0]) + 2;
    const size_t nameLength = base[kNameLengthAt];
    const size_t afterName = kLhaBaseSize + nameLength;
    // Level 1 needs the CRC, the OS id and the first extended header's size.
    if (afterName > baseSize || (h.level == 1 && afterName + 5 > baseSize))
        return LhaParse::NotHeader;
    std::vector<uint8_t> bytes;
    if (!ReadExactly(input, h.start, baseSize, bytes)) return LhaParse::Truncated;
    h.checksumMatches = ByteSum(bytes.data() + 2, baseSize - 2) == bytes[1];

    const std::string_view stored(reinterpret_cast<const char*>(&bytes[kLhaBaseSize]), nameLength);
    h.name = std::string(UpToZero(stored));
    // Amiga archivers store the file comment after a zero byte.
    if (h.name.size() < stored.size())
        h.comment = std::string(UpToZero(stored.substr(h.name.size() + 1)));
    // Early archivers wrote level-0 headers without the CRC.
    if (afterName + 2 <= baseSize) h.dataCrc = Le16(&bytes[afterName]);
    if (afterName + 3 <= baseSize) h.osId = bytes[afterName + 2];
    h.dosTime = Le32(&bytes[kTimeAt]);

    const int64_t dataStart = h.start + int64_t(baseSize);
    if (h.level == 0) {
        if (h.osId == 'U' && afterName + 2 + kLevel0UnixArea <= baseSize) {
            const uint8_t* unix = &bytes[afterName + 2];
            h.unixTime = int64_t(Le32(unix + 2));
            h.unixMode = Le16(unix + 6);
        }
        h.dataOffset = dataStart;
        h.packedSize = h.packedField;
        return LhaParse::Ok;
    }
    ExtendedChain chain(input, h, 2);
    const int64_t limit = dataStart + h.packedField;
    const LhaParse walked = chain.Walk(dataStart, limit, Le16(&bytes[baseSize - 2]), nullptr);
    if (walked != LhaParse::Ok) return walked;
    h.dataOffset = dataStart + h.extendedTotal;
    if (chain.headerCrcAt && h.checksumMatches) {
        // The header CRC covers the base and the extended headers alike.
        std::vector<uint8_t> whole;
        if (!ReadExactly(input, h.start, size_t(h.dataOffset - h.start), whole))
            return LhaParse::Truncated;
        h.checksumMatches =
            HeaderCrcMatches(whole, size_t(*chain.headerCrcAt - h.start), chain.headerCrc);
    }
    if (!chain.sizesExtended) h.packedSize = h.packedField;
    h.packedSize -= std::min<uint64_t>(h.packedSize, uint64_t(h.extendedTotal));
    return LhaParse::Ok;
}

// Levels 2 and 3: the whole header's size is stored; its extended headers lie within it.
LhaParse ParseHighLevel(LhaInput& input, LhaHeader& h) {
    const int width = h.level == 2 ? 2 : 4;
    const size_t fixed = h.level == 2 ? kLevel2Fixed : kLevel3Fixed;
    std::vector<uint8_t> bytes;
    if (!ReadExactly(input, h.start, fixed, bytes)) return LhaParse::Truncated;
    int64_t total = 0;
    uint32_t firstSize = 0;
    if (h.level == 2) {
        total = Le16(bytes.data());
        firstSize = Le16(&bytes[24]);
    } else {
        if (Le16(bytes.data()) != 4) return LhaParse::NotHeader; // the width of its size fields
        total = Le32(&bytes[kLevel3SizeAt]);
        firstSize = Le32(&bytes[28]);
    }
    if (total < int64_t(fixed) || total > kMaxLevel3Header) return LhaParse::NotHeader;
    if (!ReadExactly(input, h.start, size_t(total), bytes)) return LhaParse::Truncated;
    h.dataCrc = Le16(&bytes[kDataCrcAt]);
    h.osId = bytes[kOsIdAt];
    h.unixTime = int64_t(Le32(&bytes[kTimeAt]));
    h.packedSize = h.packedField;

    ExtendedChain chain(input, h, width);
    chain.Walk(h.start + int64_t(fixed), h.start + total, firstSize, &bytes);
    if (chain.headerCrcAt)
        h.checksumMatches =
            HeaderCrcMatches(bytes, size_t(*chain.headerCrcAt - h.start), chain.headerCrc);
    h.dataOffset = h.start + total;
    return LhaParse::Ok;
}

// A path "name|target" with the folder method (or a link's mode) is a Unix
// symbolic link; the bar may lie in the name or, where the archiver split the
// path at its last separator, in the directory header. The folder method
// otherwise marks a folder.
void SortOutKind(LhaHeader& h) {
    const bool folderMethod = h.method == "-lhd-";
    const bool linkMode = h.unixMode && (*h.unixMode & kUnixTypeMask) == kUnixLink;
    const std::string directory(UpToZero(h.directory));
    const std::string path = directory + h.name;
    const size_t bar = path.find('|');
    if (!(folderMethod || linkMode) || bar == std::string::npos) {
        h.folder = folderMethod;
        return;
    }
    h.linkTarget = path.substr(bar + 1);
    std::replace(h.linkTarget.begin(), h.linkTarget.end(), '\xFF', '/');
    if (bar >= directory.size()) {
        h.name.resize(bar - directory.size());
    } else {
        const std::string link = path.substr(0, bar);
        const size_t separator = link.find_last_of("/\xFF");
        h.directory = separator == std::string::npos ? "" : link.substr(0, separator + 1);
        h.hasDirectory = !h.directory.empty();
        h.name = link.substr(separator == std::string::npos ? 0 : separator + 1);
    }
    h.symbolicLink = true;
}

} // namespace

LhaParse ParseLhaHeader(LhaInput& input, int64_t start, LhaHeader& header) {
    header = LhaHeader{};
    header.start = start;
    std::vector<uint8_t> base;
    base.resize(kLhaBaseSize);
    const size_t got = input.ReadAt(start, base.data(), base.size());
    if (got == 0 || (got >= 1 && base[0] == 0)) return LhaParse::End;
    if (got < base.size()) return LhaParse::Truncated;
    if (!IsMethodId(&base[kMethodAt]) || base[kLevelAt] > 3) return LhaParse::NotHeader;
    header.level = base[kLevelAt];
    header.method.assign(reinterpret_cast<const char*>(&base[kMethodAt]), 5);
    header.packedField = Le32(&base[kPackedAt]);
    header.originalSize = Le32(&base[kOriginalAt]);
    header.attribute = base[kAttributeAt];

    const LhaParse parsed =
        header.level <= 1 ? ParseLowLevel(input, base, header) : ParseHighLevel(input, header);
    if (parsed != LhaParse::Ok) return parsed;
    SortOutKind(header);
    header.nextHeader = header.dataOffset + int64_t(header.packedSize);
    return LhaParse::Ok;
}

bool LooksLikeLhaHeader(const uint8_t* bytes, size_t available) {
    if (available < kLhaBaseSize || !IsMethodId(bytes + kMethodAt)) return false;
    const uint8_t level = bytes[kLevelAt];
    switch (level) {
    case 0:
    case 1: {
        const size_t baseSize = size_t(bytes[0]) + 2;
        if (kLhaBaseSize + bytes[kNameLengthAt] + (level == 1 ? 5 : 0) > baseSize) return false;
        return baseSize > available || ByteSum(bytes + 2, baseSize - 2) == bytes[1];
    }
    case 2:
        return Le16(bytes) >= kLevel2Fixed;
    case 3:
        return Le16(bytes) == 4;
    default:
        return false;
    }
}

std::string LhaDirectoryText(std::string_view stored) {
    stored = UpToZero(stored);
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
    return std::string(TrimmedBlanks(text));
}

std::string LhaStoredPath(const LhaHeader& header) {
    const std::string directory = header.hasDirectory ? LhaDirectoryText(header.directory) : "";
    return directory.empty() ? header.name : AddBackslash(directory) + header.name;
}

std::string LhaUnicodePath(const LhaHeader& header) {
    // Only a path whose every stored part has its Unicode form is taken.
    const bool nameCovered = header.name.empty() || !header.unicodeName.empty();
    const bool directoryCovered = !header.hasDirectory || !header.unicodeDirectory.empty();
    if (!nameCovered || !directoryCovered ||
        (header.unicodeName.empty() && header.unicodeDirectory.empty()))
        return {};
    const std::string& name = header.unicodeName;
    std::string directory = header.unicodeDirectory;
    while (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    return directory.empty() ? name : directory + "\\" + name;
}

} // namespace dvl::formats
