#include "tests/unace/decoder/member_walk.h"

#include "tests/support/test_support.h"

#include <algorithm>
#include <cstring>

namespace dvl::test {

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint32_t(b[at + size_t(i)]) << (8 * i);
    return value;
}

} // namespace

uint32_t RawCrc(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return crc;
}

WalkedAceVolume WalkAceVolume(const std::filesystem::path& path) {
    const std::vector<uint8_t> file = ReadFile(path);
    WalkedAceVolume volume;
    size_t at = 0;
    bool first = true;
    while (at + 4 <= file.size()) {
        const size_t headSize = Le(file, at + 2, 2);
        const size_t header = at + 4;
        if (header + headSize > file.size() || headSize < 3) return {};
        const int type = file[header];
        const uint16_t flags = uint16_t(Le(file, header + 1, 2));
        uint64_t addSize = (flags & 1) ? Le(file, header + 3, 4) : 0;
        if (first) {
            volume.solid = (flags & 0x8000) != 0;
            first = false;
        } else if (type == 1) {
            WalkedAceMember m;
            m.flags = flags;
            m.origSize = Le(file, header + 7, 4);
            m.attributes = Le(file, header + 15, 4);
            m.crc = Le(file, header + 19, 4);
            m.compType = file[header + 23];
            m.dictBits = 10 + (Le(file, header + 25, 2) & 15);
            const size_t nameSize = Le(file, header + 29, 2);
            m.name.assign(file.begin() + long(header + 31),
                          file.begin() + long(header + 31 + nameSize));
            const size_t data = header + headSize;
            if (data + addSize > file.size()) return {};
            m.packed.assign(file.begin() + long(data), file.begin() + long(data + addSize));
            volume.members.push_back(std::move(m));
        }
        at = header + headSize + addSize;
    }
    return volume;
}

WalkedAceVolume WalkAceVolumes(const std::vector<std::filesystem::path>& paths) {
    WalkedAceVolume set;
    for (const auto& path : paths) {
        WalkedAceVolume volume = WalkAceVolume(path);
        set.solid = set.solid || volume.solid;
        for (WalkedAceMember& m : volume.members) {
            const bool continued = (m.flags & 0x1000) != 0;
            if (continued && !set.members.empty() && (set.members.back().flags & 0x2000)) {
                WalkedAceMember& first = set.members.back();
                first.packed.insert(first.packed.end(), m.packed.begin(), m.packed.end());
                first.flags = uint16_t((first.flags & ~0x2000) | (m.flags & 0x2000));
                first.crc = m.crc; // the last segment's CRC covers the whole member
                continue;
            }
            set.members.push_back(std::move(m));
        }
    }
    for (WalkedAceMember& m : set.members)
        m.flags &= uint16_t(~0x1000);
    return set;
}

size_t BytesInput::ReadPacked(uint8_t* buffer, size_t capacity) {
    const size_t n = std::min({capacity, piece_, bytes_.size() - at_});
    if (n > 0) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
}

DecodedMember DecodeWith(unace::AceDecoder& decoder, int compType, int dictBits, uint64_t origSize,
                         const std::vector<uint8_t>& packed, size_t piece) {
    DecodedMember out;
    BytesInput input(packed, piece);
    out.result = decoder.DecodeMember(compType, dictBits, origSize, input,
                                      [&](const uint8_t* data, size_t size) {
                                          out.data.insert(out.data.end(), data, data + size);
                                          return true;
                                      });
    return out;
}

} // namespace dvl::test
