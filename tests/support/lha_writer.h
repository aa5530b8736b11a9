// LHA archives built byte by byte for tests: members with headers of level
// 0, 1 or 2, correct header checksums and data CRC-16s, and whatever names,
// folders and methods a case needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvl::test {

struct LhaMember {
    std::string name;        // level 2: in the file-name header
    std::string directory{}; // levels 1 and 2: a directory header ("/" or 0xFF separated)
    std::string data{};      // stored as it is (the method is not applied)
    std::string method = "-lh0-";
    int level = 2;
    uint8_t attribute = 0x20;
    char os = 'M';              // level 1: the system that made it
    uint32_t stamp = 981173106; // level 2: Unix time; levels 0 and 1: a DOS date and time
};

// CRC-16 with the polynomial 0xA001 (reflected), starting at 0.
inline uint16_t LhaCrc16(const std::string& data) {
    uint16_t crc = 0;
    for (const char c : data) {
        crc ^= uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

inline void PutLhaLe(std::vector<uint8_t>& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

// An extended header's type and data, then the size of the next one (0).
inline void PutLhaExtended(std::vector<uint8_t>& out, uint8_t type, const std::string& data) {
    out.push_back(type);
    out.insert(out.end(), data.begin(), data.end());
    PutLhaLe(out, 0, 2);
}

inline void AddLhaMember(std::vector<uint8_t>& out, const LhaMember& m) {
    std::vector<std::pair<uint8_t, std::string>> extended;
    if (m.level == 2) extended.emplace_back(1, m.name);
    if (m.level >= 1 && !m.directory.empty()) extended.emplace_back(2, m.directory);
    std::vector<uint8_t> ext; // each header's size sits at the end of the one before
    for (size_t i = 0; i < extended.size(); ++i) {
        PutLhaExtended(ext, extended[i].first, extended[i].second);
        const size_t next = i + 1 < extended.size() ? extended[i + 1].second.size() + 3 : 0;
        ext[ext.size() - 2] = uint8_t(next);
        ext[ext.size() - 1] = uint8_t(next >> 8);
    }
    const size_t firstSize = extended.empty() ? 0 : extended[0].second.size() + 3;
    std::vector<uint8_t> h = {0, 0};
    h.insert(h.end(), m.method.begin(), m.method.end());
    PutLhaLe(h, m.data.size() + (m.level == 1 ? ext.size() : 0), 4);
    PutLhaLe(h, m.data.size(), 4);
    PutLhaLe(h, m.stamp, 4);
    h.push_back(m.attribute);
    h.push_back(uint8_t(m.level));
    const uint16_t crc = LhaCrc16(m.data);
    if (m.level < 2) {
        h.push_back(uint8_t(m.name.size()));
        h.insert(h.end(), m.name.begin(), m.name.end());
        PutLhaLe(h, crc, 2);
        if (m.level == 1) {
            h.push_back(uint8_t(m.os));
            PutLhaLe(h, firstSize, 2);
        }
        h[0] = uint8_t(h.size() - 2);
        uint8_t sum = 0;
        for (size_t i = 2; i < h.size(); ++i)
            sum = uint8_t(sum + h[i]);
        h[1] = sum;
        h.insert(h.end(), ext.begin(), ext.end());
    } else {
        PutLhaLe(h, crc, 2);
        h.push_back('U');
        PutLhaLe(h, firstSize, 2);
        h.insert(h.end(), ext.begin(), ext.end());
        h[0] = uint8_t(h.size());
        h[1] = uint8_t(h.size() >> 8);
    }
    out.insert(out.end(), h.begin(), h.end());
    out.insert(out.end(), m.data.begin(), m.data.end());
}

inline std::vector<uint8_t> LhaArchive(const std::vector<LhaMember>& members) {
    std::vector<uint8_t> out;
    for (const LhaMember& m : members)
        AddLhaMember(out, m);
    out.push_back(0);
    return out;
}

} // namespace dvl::test
