// Slicing by 8: eight tables let one step take eight bytes, each looked up
// independently of the others, instead of a chain of eight dependent steps.
#include "archive/codecs/crc16.h"

#include <array>
#include <cstring>

namespace dvl::codecs {

namespace {

using Tables = std::array<std::array<uint16_t, 256>, 8>;

// tables[k][b]: the register after byte b followed by k zero bytes.
constexpr Tables MakeTables() {
    Tables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = uint16_t(i);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        tables[0][i] = crc;
    }
    for (unsigned i = 0; i < 256; ++i)
        for (unsigned k = 1; k < 8; ++k) {
            const uint16_t previous = tables[k - 1][i];
            tables[k][i] = uint16_t((previous >> 8) ^ tables[0][previous & 0xFF]);
        }
    return tables;
}

constexpr Tables kTables = MakeTables();

} // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t n) {
    const auto& t = kTables;
    for (; n >= 8; n -= 8, data += 8) {
        uint64_t word;
        std::memcpy(&word, data, 8); // little-endian host: data[0] in the low byte
        word ^= crc;
        crc = uint16_t(t[7][word & 0xFF] ^ t[6][(word >> 8) & 0xFF] ^ t[5][(word >> 16) & 0xFF] ^
                       t[4][(word >> 24) & 0xFF] ^ t[3][(word >> 32) & 0xFF] ^
                       t[2][(word >> 40) & 0xFF] ^ t[1][(word >> 48) & 0xFF] ^ t[0][word >> 56]);
    }
    for (; n > 0; --n, ++data)
        crc = uint16_t((crc >> 8) ^ t[0][(crc ^ *data) & 0xFF]);
    return crc;
}

} // namespace dvl::codecs
