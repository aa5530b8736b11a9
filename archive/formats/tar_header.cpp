#include "archive/formats/tar_header.h"

#include <algorithm>
#include <cstring>

namespace dvl::formats {

namespace {

constexpr size_t kNameField = 100, kPrefixField = 155, kNumberField = 12;
constexpr size_t kModeOffset = 100, kSizeOffset = 124, kTimeOffset = 136;
constexpr size_t kChecksumOffset = 148, kChecksumField = 8, kTypeOffset = 156;
constexpr size_t kLinkOffset = 157, kMagicOffset = 257, kPrefixOffset = 345;
// Old GNU headers: four sparse chunks, the extension flag and the real size.
constexpr size_t kOldSparseOffset = 386, kOldSparseCount = 4;
constexpr size_t kOldExtendedOffset = 482, kOldRealSizeOffset = 483;
constexpr size_t kExtensionCount = 21, kExtensionFlagOffset = 504;
constexpr size_t kChunkFieldSize = 24;
// The count of a 1.0 sparse map is bounded, so a hostile map cannot grow
// without end.
constexpr int64_t kMaxSparseChunks = 1 << 20;

std::string FieldText(const uint8_t* field, size_t width) {
    const char* text = reinterpret_cast<const char*>(field);
    return {text, strnlen(text, width)};
}

bool ParseDecimal(std::string_view text, int64_t& value) {
    if (text.empty()) return false;
    int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || n > (INT64_MAX - 9) / 10) return false;
        n = n * 10 + (c - '0');
    }
    value = n;
    return true;
}

// "offset,length,offset,length..." of the 0.1 form.
void ParseSparseList(std::string_view text, std::vector<SparseChunk>& map) {
    map.clear();
    std::vector<int64_t> numbers;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        int64_t n = 0;
        if (!ParseDecimal(text.substr(0, comma), n)) return;
        numbers.push_back(n);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    for (size_t i = 0; i + 1 < numbers.size(); i += 2)
        map.push_back({numbers[i], numbers[i + 1]});
}

void ApplyPaxRecord(std::string_view key, std::string_view value, TarPending& pending) {
    int64_t n = 0;
    if (key == "path")
        pending.path = std::string(value);
    else if (key == "linkpath")
        pending.linkPath = std::string(value);
    else if (key == "size" && ParseDecimal(value, n))
        pending.size = n;
    else if ((key == "GNU.sparse.size" || key == "GNU.sparse.realsize") && ParseDecimal(value, n))
        pending.sparseRealSize = n;
    else if (key == "GNU.sparse.name")
        pending.sparseName = std::string(value);
    else if (key == "GNU.sparse.major" && ParseDecimal(value, n))
        pending.sparseMajor = int(n);
    else if (key == "GNU.sparse.minor" && ParseDecimal(value, n))
        pending.sparseMinor = int(n);
    else if (key == "GNU.sparse.map")
        ParseSparseList(value, pending.sparseMap);
    else if (key == "GNU.sparse.offset" && ParseDecimal(value, n))
        pending.sparseMap.push_back({n, 0}); // 0.0: each offset is followed by its length
    else if (key == "GNU.sparse.numbytes" && ParseDecimal(value, n) && !pending.sparseMap.empty())
        pending.sparseMap.back().length = n;
}

// pax records are "<length> <key>=<value>\n".
void ParsePax(std::string_view data, TarPending& pending) {
    while (!data.empty()) {
        size_t length = 0, i = 0;
        while (i < data.size() && data[i] >= '0' && data[i] <= '9' && length < data.size())
            length = length * 10 + size_t(data[i++] - '0');
        if (i == 0 || i >= data.size() || data[i] != ' ' || length <= i + 1 || length > data.size())
            return;
        std::string_view record = data.substr(i + 1, length - i - 1);
        data.remove_prefix(length);
        if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
        const size_t equals = record.find('=');
        if (equals != std::string_view::npos)
            ApplyPaxRecord(record.substr(0, equals), record.substr(equals + 1), pending);
    }
}

void ReadChunks(const uint8_t* at, size_t count, std::vector<SparseChunk>& map) {
    for (size_t i = 0; i < count; ++i, at += kChunkFieldSize) {
        const int64_t offset = TarNumber(at, kNumberField);
        const int64_t length = TarNumber(at + kNumberField, kNumberField);
        if (offset == 0 && length == 0 && at[0] == 0) break;
        map.push_back({offset, length});
    }
}

} // namespace

int64_t TarNumber(const uint8_t* field, size_t width) {
    uint64_t value = 0;
    if (field[0] & 0x80) {
        // Negative values and values beyond 62 bits are not sizes or times.
        if (field[0] & 0x40) return 0;
        for (size_t i = 1; i < width; ++i) {
            if (value >> 54) return 0;
            value = (value << 8) | field[i];
        }
        return int64_t(value);
    }
    for (size_t i = 0; i < width; ++i) {
        const uint8_t c = field[i];
        if (c >= '0' && c <= '7' && value >> 60 == 0) value = value * 8 + (c - '0');
    }
    return int64_t(value);
}

bool TarChecksumValid(const uint8_t* block) {
    const int64_t stored = TarNumber(block + kChecksumOffset, kChecksumField);
    int64_t unsignedSum = 0, signedSum = 0;
    for (size_t i = 0; i < kTarBlock; ++i) {
        const bool inField = i >= kChecksumOffset && i < kChecksumOffset + kChecksumField;
        unsignedSum += inField ? ' ' : block[i];
        signedSum += inField ? ' ' : int8_t(block[i]);
    }
    return stored == unsignedSum || stored == signedSum;
}

TarMember ParseTarHeader(const uint8_t* block, TarPending& pending) {
    TarMember m;
    const std::string fieldName = FieldText(block, kNameField);
    m.endOfArchive = fieldName.empty() && !pending.path && !pending.sparseName;
    if (std::all_of(block, block + kTarBlock, [](uint8_t b) { return b == 0; })) {
        m.endOfArchive = true;
        return m;
    }
    m.checksumValid = TarChecksumValid(block);
    m.type = char(block[kTypeOffset]);
    m.mode = uint32_t(TarNumber(block + kModeOffset, 8) & 07777);
    m.modified = TarNumber(block + kTimeOffset, kNumberField);
    m.dataSize = TarNumber(block + kSizeOffset, kNumberField);
    m.size = m.dataSize;
    const bool posix = std::memcmp(block + kMagicOffset, "ustar\0", 6) == 0;
    m.name = fieldName;
    // Old GNU headers keep times in the prefix field; only POSIX ones a prefix.
    if (posix) {
        const std::string prefix = FieldText(block + kPrefixOffset, kPrefixField);
        if (!prefix.empty()) m.name = prefix + "/" + m.name;
    }
    m.linkName = FieldText(block + kLinkOffset, kNameField);
    if (m.IsMetadata()) return m;

    if (m.type == 'S') {
        m.sparse = TarSparse::OldGnu;
        ReadChunks(block + kOldSparseOffset, kOldSparseCount, m.sparseMap);
        m.sparseExtended = block[kOldExtendedOffset] != 0;
        m.size = TarNumber(block + kOldRealSizeOffset, kNumberField);
    }
    if (pending.size) m.dataSize = *pending.size;
    m.size = m.type == 'S' ? m.size : m.dataSize;
    if (pending.path) m.name = *pending.path;
    if (pending.linkPath) m.linkName = *pending.linkPath;
    if (pending.sparseMajor == 1) {
        m.sparse = TarSparse::PaxMapInData;
    } else if (!pending.sparseMap.empty() || pending.sparseRealSize) {
        m.sparse = TarSparse::Pax;
        m.sparseMap = pending.sparseMap;
    }
    if (m.sparse == TarSparse::Pax || m.sparse == TarSparse::PaxMapInData) {
        if (pending.sparseName) m.name = *pending.sparseName;
        if (pending.sparseRealSize) m.size = *pending.sparseRealSize;
    }
    pending.Clear();
    return m;
}

void ApplyTarMetadata(const TarMember& member, std::string_view data, TarPending& pending) {
    const std::string_view text = data.substr(0, data.find('\0'));
    switch (member.type) {
    case 'L':
        pending.path = std::string(text);
        break;
    case 'K':
        pending.linkPath = std::string(text);
        break;
    case 'x':
    case 'X':
        ParsePax(data, pending);
        break;
    default:
        break; // global headers change nothing we read
    }
}

bool ParseSparseExtension(const uint8_t* block, std::vector<SparseChunk>& map) {
    ReadChunks(block, kExtensionCount, map);
    return block[kExtensionFlagOffset] != 0;
}

int64_t ParseSparseMapInData(std::string_view text, std::vector<SparseChunk>& map) {
    map.clear();
    size_t pos = 0;
    // The next decimal line; false while the line is not complete.
    const auto nextNumber = [&](int64_t& value, bool& bad) {
        const size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) return false;
        bad = !ParseDecimal(text.substr(pos, newline - pos), value);
        pos = newline + 1;
        return true;
    };
    int64_t count = 0;
    bool bad = false;
    if (!nextNumber(count, bad)) return text.size() > 64 ? -1 : 0;
    if (bad || count < 0 || count > kMaxSparseChunks) return -1;
    for (int64_t i = 0; i < count; ++i) {
        SparseChunk chunk;
        if (!nextNumber(chunk.offset, bad) || (!bad && !nextNumber(chunk.length, bad))) return 0;
        if (bad) return -1;
        map.push_back(chunk);
    }
    return int64_t((pos + kTarBlock - 1) / kTarBlock * kTarBlock);
}

} // namespace dvl::formats
