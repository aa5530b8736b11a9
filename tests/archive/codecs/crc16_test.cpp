#include "archive/codecs/crc16.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace dvl::codecs {
namespace {

uint16_t BitwiseCrc16(const uint8_t* data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

TEST(Crc16, CheckValue) {
    constexpr std::string_view kCheck = "123456789";
    EXPECT_EQ(Crc16Update(0, reinterpret_cast<const uint8_t*>(kCheck.data()), kCheck.size()),
              0xBB3D);
}

// Every length and alignment around the eight-byte steps, in one call and split in two.
TEST(Crc16, AgreesWithTheBitwiseRegisterAtEveryLengthAndSplit) {
    std::vector<uint8_t> data(200);
    uint32_t x = 12345;
    for (uint8_t& b : data)
        b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    for (size_t start = 0; start < 8; ++start)
        for (size_t n = 0; start + n <= data.size(); n += 7) {
            const uint8_t* p = data.data() + start;
            const uint16_t expected = BitwiseCrc16(p, n);
            ASSERT_EQ(Crc16Update(0, p, n), expected) << start << " " << n;
            const size_t half = n / 3;
            ASSERT_EQ(Crc16Update(Crc16Update(0, p, half), p + half, n - half), expected);
        }
}

} // namespace
} // namespace dvl::codecs
