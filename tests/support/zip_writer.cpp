#include "tests/support/zip_writer.h"

#include "tests/support/test_support.h"

namespace dvl::test {

namespace {

const std::vector<uint8_t>& Body(const ZipEntrySpec& e) {
    return e.method == 0 && e.packed.empty() ? e.data : e.packed;
}

// The fields from the flags to the extra-field length, which local and central
// headers share.
void PutSharedFields(std::vector<uint8_t>& out, const ZipEntrySpec& e) {
    PutLe16(out, e.flags);
    PutLe16(out, e.method);
    PutLe32(out, e.dosDateTime);
    PutLe32(out, e.crcOverride >= 0 ? uint32_t(e.crcOverride) : Crc32(e.data));
    PutLe32(out, uint32_t(Body(e).size()));
    PutLe32(out, e.sizeOverride >= 0 ? uint32_t(e.sizeOverride) : uint32_t(e.data.size()));
    PutLe16(out, uint32_t(e.name.size()));
    PutLe16(out, uint32_t(e.extra.size()));
}

} // namespace

uint32_t Crc32(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

std::vector<uint8_t> ZipWriter::Build(const std::vector<uint8_t>& prefix, bool relativeToPrefix,
                                      const std::string& comment) const {
    std::vector<uint8_t> out = prefix;
    const uint32_t base = relativeToPrefix ? uint32_t(prefix.size()) : 0;
    std::vector<uint32_t> offsets;
    for (const auto& e : entries_) {
        if (e.sharesDataWith >= 0) {
            offsets.push_back(offsets[size_t(e.sharesDataWith)]);
            continue;
        }
        offsets.push_back(uint32_t(out.size()) - base);
        PutLe32(out, e.localSignature);
        PutLe16(out, 20);
        PutSharedFields(out, e);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.extra.begin(), e.extra.end());
        out.insert(out.end(), Body(e).begin(), Body(e).end());
    }
    const uint32_t centralOffset = uint32_t(out.size()) - base;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const auto& e = entries_[i];
        PutLe32(out, 0x02014B50);
        PutLe16(out, e.versionMadeBy);
        PutLe16(out, 20);
        PutSharedFields(out, e);
        PutLe16(out, 0);
        PutLe16(out, 0);
        PutLe16(out, 0);
        PutLe32(out, e.externalAttr);
        PutLe32(out, offsets[i]);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.extra.begin(), e.extra.end());
    }
    const uint32_t centralSize = uint32_t(out.size()) - base - centralOffset;
    PutLe32(out, 0x06054B50);
    PutLe16(out, 0);
    PutLe16(out, 0);
    PutLe16(out, uint32_t(entries_.size()));
    PutLe16(out, uint32_t(entries_.size()));
    PutLe32(out, centralSize);
    PutLe32(out, centralOffset);
    PutLe16(out, uint32_t(comment.size()));
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

} // namespace dvl::test
