// ZOO archives built byte by byte for tests (no tool here writes them): new-
// style entries with a directory name, the entry CRC-16 and the data CRC-16,
// stored or carrying data packed by the caller; and an encoder of ZOO's LZW.
#pragma once

#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dvl::test {

struct ZooMember {
    std::string directory, name;
    std::string data{};            // the file's bytes
    uint8_t method = 0;            // 0 stored, 1 LZW, 2 -lh5-
    std::vector<uint8_t> packed{}; // the data as the method packs it (stored: empty)
};

// CRC-16 with the polynomial 0xA001 (reflected), starting at 0.
inline uint16_t ZooCrc16(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0;
    for (const uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

inline std::vector<uint8_t> BuildZoo(const std::vector<ZooMember>& members) {
    constexpr uint32_t kTag = 0xFDC4A7DC;
    constexpr uint32_t kDosDateTime = 0x3A8B7C21; // 2009-04-11 15:33:02, time word first
    std::vector<uint8_t> out(20, 0);
    std::memcpy(out.data(), "ZOO 2.10 Archive.\x1A", 18);
    PutLe32(out, kTag);
    PutLe32(out, 42);
    PutLe32(out, uint32_t(-42));
    out.insert(out.end(), {2, 1, 1});
    PutLe32(out, 0); // no comment
    PutLe16(out, 0);
    out.push_back(0);
    for (size_t i = 0; i <= members.size(); ++i) {
        const bool closing = i == members.size();
        const ZooMember m = closing ? ZooMember{} : members[i];
        const std::vector<uint8_t> data(m.data.begin(), m.data.end());
        const std::vector<uint8_t>& packed = m.method == 0 ? data : m.packed;
        std::vector<uint8_t> e;
        PutLe32(e, kTag);
        e.insert(e.end(), {2, m.method}); // new style
        PutLe32(e, 0);                    // next, set below
        PutLe32(e, 0);                    // data position, set below
        PutLe32(e, closing ? 0 : (kDosDateTime << 16 | kDosDateTime >> 16)); // date word first
        PutLe16(e, ZooCrc16(data));
        PutLe32(e, uint32_t(data.size()));
        PutLe32(e, uint32_t(packed.size()));
        e.insert(e.end(), {2, 1, 0, 0});
        PutLe32(e, 0); // no comment
        PutLe16(e, 0);
        std::string shortName = m.name;
        shortName.resize(13, '\0');
        e.insert(e.end(), shortName.begin(), shortName.end());
        const std::string dir = m.directory.empty() ? "" : m.directory + '\0';
        PutLe16(e, closing ? 0 : uint32_t(2 + dir.size()));
        e.push_back(0x7F); // time zone unknown
        PutLe16(e, 0);     // the entry's CRC, set below
        if (!closing) {
            e.insert(e.end(), {0, uint8_t(dir.size())});
            e.insert(e.end(), dir.begin(), dir.end());
        }
        const uint32_t dataAt = uint32_t(out.size() + e.size());
        std::memcpy(&e[10], &dataAt, 4);
        const uint32_t next = closing ? 0 : uint32_t(dataAt + packed.size());
        std::memcpy(&e[6], &next, 4);
        if (!closing) {
            const uint16_t crc = ZooCrc16(e);
            std::memcpy(&e[54], &crc, 2);
        }
        out.insert(out.end(), e.begin(), e.end());
        out.insert(out.end(), packed.begin(), packed.end());
    }
    return out;
}

// ZOO's LZW: codes of 9 to 13 bits, least significant bit first; 256 clears
// (never written here), 257 ends, strings from 258 on until the 8192 codes are
// taken. A code is as wide as the decoder's next free code needs: it adds each
// string one code later than the encoder does.
inline std::vector<uint8_t> ZooLzw(const std::string& data) {
    constexpr unsigned kEnd = 257, kFirstFree = 258, kLimit = 8192, kMaxBits = 13;
    std::vector<uint8_t> out;
    uint64_t bits = 0;
    unsigned count = 0, width = 9, emitted = 0;
    const auto emit = [&](unsigned code) {
        const unsigned decoderNextFree = std::min(kFirstFree + (emitted ? emitted - 1 : 0), kLimit);
        if (decoderNextFree >> width && width < kMaxBits) ++width;
        ++emitted;
        bits |= uint64_t(code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8)
            out.push_back(uint8_t(bits));
    };
    std::map<std::pair<unsigned, uint8_t>, unsigned> strings;
    unsigned nextFree = kFirstFree;
    bool open = false;
    unsigned current = 0;
    for (const char c : data) {
        const uint8_t byte = uint8_t(c);
        if (!open) {
            current = byte;
            open = true;
            continue;
        }
        if (const auto it = strings.find({current, byte}); it != strings.end()) {
            current = it->second;
            continue;
        }
        emit(current);
        if (nextFree < kLimit) strings[{current, byte}] = nextFree++;
        current = byte;
    }
    if (open) emit(current);
    emit(kEnd);
    if (count > 0) out.push_back(uint8_t(bits));
    return out;
}

} // namespace dvl::test
