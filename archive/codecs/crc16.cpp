#include "archive/codecs/crc16.h"

#include <array>

namespace dvl::codecs {

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = uint16_t(i);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

} // namespace

uint16_t Crc16Update(uint16_t crc, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i)
        crc = uint16_t((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

} // namespace dvl::codecs
