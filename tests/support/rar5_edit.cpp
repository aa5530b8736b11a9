#include "tests/support/rar5_edit.h"

#include "tests/support/zip_writer.h"

#include <stdexcept>

namespace dvl::test {

namespace {

constexpr size_t kSignatureSize = 8;
constexpr uint64_t kFileHeader = 2;
constexpr uint64_t kHasExtraArea = 0x0001, kHasData = 0x0002;
constexpr uint64_t kFileHasTime = 0x0002, kFileHasCrc = 0x0004;

uint64_t ReadVint(const std::vector<uint8_t>& b, size_t& pos) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        if (pos >= b.size()) throw std::runtime_error("RAR 5 header runs past the archive");
        const uint8_t byte = b[pos++];
        value |= uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return value;
    }
}

void PutVint(std::vector<uint8_t>& out, uint64_t value) {
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value) byte |= 0x80;
        out.push_back(byte);
    } while (value);
}

// A parsed file header: the fields before the name kept as bytes.
struct Parsed {
    uint64_t flags = 0, dataSize = 0;
    std::vector<uint8_t> fields; // file flags .. host OS
    Rar5FileHeader header;
    size_t end = 0; // after the header
};

Parsed ParseBlock(const std::vector<uint8_t>& b, size_t start, uint64_t& type) {
    Parsed p;
    size_t pos = start + 4;
    const uint64_t size = ReadVint(b, pos);
    p.end = pos + size;
    type = ReadVint(b, pos);
    p.flags = ReadVint(b, pos);
    const uint64_t extraSize = (p.flags & kHasExtraArea) ? ReadVint(b, pos) : 0;
    if (p.flags & kHasData) p.dataSize = ReadVint(b, pos);
    if (type != kFileHeader) return p;
    const size_t fieldsStart = pos;
    const uint64_t fileFlags = ReadVint(b, pos);
    ReadVint(b, pos); // unpacked size
    ReadVint(b, pos); // attributes
    if (fileFlags & kFileHasTime) pos += 4;
    if (fileFlags & kFileHasCrc) pos += 4;
    ReadVint(b, pos); // compression
    ReadVint(b, pos); // host OS
    p.fields.assign(b.begin() + long(fieldsStart), b.begin() + long(pos));
    const uint64_t nameLength = ReadVint(b, pos);
    p.header.name.assign(b.begin() + long(pos), b.begin() + long(pos + nameLength));
    pos += nameLength;
    const size_t extraEnd = pos + extraSize;
    while (pos < extraEnd) {
        const uint64_t recordSize = ReadVint(b, pos);
        const size_t recordEnd = pos + recordSize;
        Rar5Record record;
        record.type = ReadVint(b, pos);
        record.body.assign(b.begin() + long(pos), b.begin() + long(recordEnd));
        p.header.records.push_back(std::move(record));
        pos = recordEnd;
    }
    return p;
}

} // namespace

bool FindRar5FileHeader(const std::vector<uint8_t>& archive, const std::string& name,
                        size_t& blockStart, Rar5FileHeader& header) {
    size_t start = kSignatureSize;
    while (start + 4 < archive.size()) {
        uint64_t type = 0;
        const Parsed p = ParseBlock(archive, start, type);
        if (type == kFileHeader && p.header.name == name) {
            blockStart = start;
            header = p.header;
            return true;
        }
        start = p.end + p.dataSize;
    }
    return false;
}

void ReplaceRar5FileHeader(std::vector<uint8_t>& archive, size_t blockStart,
                           const Rar5FileHeader& header) {
    uint64_t type = 0;
    const Parsed old = ParseBlock(archive, blockStart, type);
    std::vector<uint8_t> extra;
    for (const Rar5Record& record : header.records) {
        std::vector<uint8_t> body;
        PutVint(body, record.type);
        body.insert(body.end(), record.body.begin(), record.body.end());
        PutVint(extra, body.size());
        extra.insert(extra.end(), body.begin(), body.end());
    }
    std::vector<uint8_t> content;
    PutVint(content, kFileHeader);
    const uint64_t flags = extra.empty() ? old.flags & ~kHasExtraArea : old.flags | kHasExtraArea;
    PutVint(content, flags);
    if (flags & kHasExtraArea) PutVint(content, extra.size());
    if (flags & kHasData) PutVint(content, old.dataSize);
    content.insert(content.end(), old.fields.begin(), old.fields.end());
    PutVint(content, header.name.size());
    content.insert(content.end(), header.name.begin(), header.name.end());
    content.insert(content.end(), extra.begin(), extra.end());

    std::vector<uint8_t> block;
    PutVint(block, content.size());
    block.insert(block.end(), content.begin(), content.end());
    std::vector<uint8_t> out;
    const uint32_t crc = Crc32(block);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(crc >> (8 * i)));
    out.insert(out.end(), block.begin(), block.end());
    archive.erase(archive.begin() + long(blockStart), archive.begin() + long(old.end));
    archive.insert(archive.begin() + long(blockStart), out.begin(), out.end());
}

} // namespace dvl::test
