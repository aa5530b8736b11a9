#include "platform/pe_resources.h"

#include "platform/file.h"

#include <algorithm>
#include <bitset>

namespace dvl::platform {

namespace {

constexpr uint32_t kRtString = 6;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr int64_t kMaxFileSize = int64_t(64) << 20;

// Bounds-checked little-endian reads; every offset comes from the file, so
// sums are done in 64 bits and checked before any byte is touched.
class Bytes {
public:
    Bytes(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
    uint64_t Size() const { return size_; }
    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint16_t U16(uint64_t offset) const { return uint16_t(data_[offset] | data_[offset + 1] << 8); }
    uint32_t U32(uint64_t offset) const {
        return uint32_t(data_[offset]) | uint32_t(data_[offset + 1]) << 8 |
               uint32_t(data_[offset + 2]) << 16 | uint32_t(data_[offset + 3]) << 24;
    }
    Bytes Sub(uint64_t offset, uint64_t length) const { return Bytes(data_ + offset, length); }

private:
    const uint8_t* data_;
    uint64_t size_;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t size; // the part of the section that is present in the file
    uint32_t rawOffset;
};

// The file bytes from an RVA to the end of its section's data; empty when the
// RVA is in no section or its data lies outside the file.
Bytes MapRva(const Bytes& image, const std::vector<Section>& sections, uint32_t rva) {
    for (const Section& s : sections) {
        if (rva < s.virtualAddress || rva - s.virtualAddress >= s.size) continue;
        uint64_t delta = rva - s.virtualAddress;
        uint64_t offset = uint64_t(s.rawOffset) + delta;
        if (offset >= image.Size()) return Bytes(nullptr, 0);
        return image.Sub(offset, std::min<uint64_t>(s.size - delta, image.Size() - offset));
    }
    return Bytes(nullptr, 0);
}

struct DirectoryEntry {
    uint32_t name;
    uint32_t data;
    bool Named() const { return (name & kHighBit) != 0; }
    uint16_t Id() const { return uint16_t(name); }
    bool Subdirectory() const { return (data & kHighBit) != 0; }
    uint32_t Offset() const { return data & ~kHighBit; }
};

// The entries of the resource directory at `offset`: as many as the header
// declares and the bytes hold.
std::vector<DirectoryEntry> ReadDirectory(const Bytes& resources, uint64_t offset) {
    std::vector<DirectoryEntry> entries;
    if (!resources.Has(offset, 16)) return entries;
    uint64_t count = uint64_t(resources.U16(offset + 12)) + resources.U16(offset + 14);
    count = std::min(count, (resources.Size() - offset - 16) / 8);
    entries.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = offset + 16 + i * 8;
        entries.push_back({resources.U32(at), resources.U32(at + 4)});
    }
    return entries;
}

std::optional<std::vector<Section>> ReadHeaders(const Bytes& image, uint32_t& resourceRva) {
    if (!image.Has(0, 64) || image.U16(0) != 0x5A4D) return std::nullopt; // "MZ"
    const uint64_t pe = image.U32(0x3C);
    if (!image.Has(pe, 24) || image.U32(pe) != 0x00004550) return std::nullopt; // "PE\0\0"
    const uint32_t sectionCount = image.U16(pe + 6);
    const uint32_t optionalSize = image.U16(pe + 20);
    const uint64_t optional = pe + 24;
    if (!image.Has(optional, optionalSize) || optionalSize < 2) return std::nullopt;

    uint64_t countAt, directoriesAt;
    switch (image.U16(optional)) {
    case 0x10B: // PE32
        countAt = optional + 92;
        directoriesAt = optional + 96;
        break;
    case 0x20B: // PE32+
        countAt = optional + 108;
        directoriesAt = optional + 112;
        break;
    default:
        return std::nullopt;
    }
    const uint64_t resourceEntry = directoriesAt + 2 * 8;
    if (resourceEntry + 8 > optional + optionalSize || image.U32(countAt) <= 2) return std::nullopt;
    resourceRva = image.U32(resourceEntry);
    if (resourceRva == 0) return std::nullopt;

    std::vector<Section> sections;
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount && image.Has(table + i * 40ull, 40); ++i) {
        const uint64_t at = table + i * 40ull;
        const uint32_t virtualSize = image.U32(at + 8);
        const uint32_t rawSize = image.U32(at + 16);
        sections.push_back({image.U32(at + 12),
                            virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize,
                            image.U32(at + 20)});
    }
    return sections;
}

} // namespace

std::optional<PeStringTable> PeStringTable::FromImage(const std::vector<uint8_t>& bytes) {
    const Bytes image(bytes.data(), bytes.size());
    uint32_t resourceRva = 0;
    auto sections = ReadHeaders(image, resourceRva);
    if (!sections) return std::nullopt;
    const Bytes resources = MapRva(image, *sections, resourceRva);
    if (!resources.Has(0, 16)) return std::nullopt;

    PeStringTable table;
    // Directory offsets are relative to the start of the resources, data
    // entries hold RVAs. Only the three levels type, block and language are
    // followed, so cyclic directories cannot make this loop.
    uint32_t typeDirectory = 0;
    bool found = false;
    for (const DirectoryEntry& e : ReadDirectory(resources, 0)) {
        if (!e.Named() && e.Id() == kRtString && e.Subdirectory()) {
            typeDirectory = e.Offset();
            found = true;
            break;
        }
    }
    if (!found) return table;

    // Aliased blocks in a hostile image could repeat the same bytes many
    // times; the strings kept are capped at what an honest image can hold.
    uint64_t budget = bytes.size() / 2;
    std::bitset<65536> seen;
    for (const DirectoryEntry& block : ReadDirectory(resources, typeDirectory)) {
        const uint16_t blockId = block.Id();
        if (block.Named() || blockId == 0 || seen[blockId] || !block.Subdirectory()) continue;
        seen[blockId] = true;

        const uint64_t language = block.Offset();
        if (!resources.Has(language, 24)) continue;
        if (resources.U16(language + 12) + resources.U16(language + 14) == 0) continue;
        const DirectoryEntry first{resources.U32(language + 16), resources.U32(language + 20)};
        if (first.Subdirectory() || !resources.Has(first.Offset(), 16)) continue;

        const uint32_t dataRva = resources.U32(first.Offset());
        const uint32_t dataSize = resources.U32(first.Offset() + 4);
        Bytes data = MapRva(image, *sections, dataRva);
        data = data.Sub(0, std::min<uint64_t>(data.Size(), dataSize));

        uint64_t pos = 0;
        for (uint32_t i = 0; i < 16 && data.Has(pos, 2); ++i) {
            const uint64_t length = data.U16(pos);
            pos += 2;
            if (!data.Has(pos, length * 2) || length > budget) break;
            budget -= length;
            if (length > 0) {
                std::string text(size_t(length), '\0');
                for (uint64_t k = 0; k < length; ++k) {
                    uint16_t unit = data.U16(pos + 2 * k);
                    text[size_t(k)] = unit <= 0xFF ? char(unit) : '?';
                }
                table.strings_.emplace_back((uint32_t(blockId) - 1) * 16 + i, std::move(text));
            }
            pos += length * 2;
        }
    }
    std::sort(table.strings_.begin(), table.strings_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return table;
}

std::optional<PeStringTable> PeStringTable::FromFile(std::string_view winPath) {
    try {
        File file;
        if (!file.OpenRead(winPath)) return std::nullopt;
        const int64_t size = file.Size();
        if (size > kMaxFileSize) return std::nullopt;
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        bytes.resize(file.Read(bytes.data(), bytes.size()));
        return FromImage(bytes);
    } catch (const IoError&) {
        return std::nullopt;
    }
}

std::string PeStringTable::Load(uint32_t id, size_t bufferSize) const {
    if (bufferSize == 0) return {};
    auto it = std::lower_bound(strings_.begin(), strings_.end(), id,
                               [](const auto& entry, uint32_t key) { return entry.first < key; });
    if (it == strings_.end() || it->first != id) return {};
    return it->second.substr(0, bufferSize - 1);
}

} // namespace dvl::platform
