// CRC-32: the classic table, the check value, and agreement of every path with zlib's crc32 on
// data of many lengths, alignments and starting registers.
#include "archive/codecs/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace dvl::unzip {
using namespace dvl::codecs;
namespace {

TEST(Crc32, TableIsTheReflectedPolynomialTable) {
    uint32_t table[256];
    BuildCrcTable(table);
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        ASSERT_EQ(table[n], c) << n;
    }
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[255], 0x2D02EF8Du);
}

TEST(Crc32, RegisterIsNotInverted) {
    const std::string check = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(check.data());
    EXPECT_EQ(~CrcUpdate(0xFFFFFFFFu, p, check.size()), 0xCBF43926u);
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : check)
        crc = CrcStep(crc, uint8_t(c));
    EXPECT_EQ(~crc, 0xCBF43926u);
    EXPECT_EQ(CrcUpdate(0x12345678u, p, 0), 0x12345678u);
}

// zlib's crc32 inverts before and after; ours leaves that to the caller.
uint32_t Reference(uint32_t reg, const uint8_t* p, size_t n) {
    return ~uint32_t(crc32(~reg, p, uInt(n)));
}

TEST(Crc32, EveryPathAgreesWithZlib) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(70000 + 64);
    for (auto& b : data)
        b = uint8_t(rng());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (size_t n : {511, 512, 513, 1000, 4095, 4096, 4097, 32768, 65535, 70000})
        lengths.push_back(n);

    const bool folding = crc_internal::FoldingSupported();
    if (!folding) std::cout << "carry-less multiplication absent: folding path not tested\n";
    for (size_t n : lengths) {
        for (size_t offset = 0; offset<16; offset += n> 300 ? 5 : 1) {
            const uint8_t* p = data.data() + offset;
            const uint32_t reg = uint32_t(rng());
            const uint32_t want = Reference(reg, p, n);
            ASSERT_EQ(crc_internal::UpdateSliced(reg, p, n), want) << n << " at " << offset;
            ASSERT_EQ(CrcUpdate(reg, p, n), want) << n << " at " << offset;
            if (folding) {
                ASSERT_EQ(crc_internal::UpdateFolded(reg, p, n), want) << n << " at " << offset;
            }
        }
    }
}

TEST(Crc32, PiecesGiveTheWholeRegister) {
    std::mt19937 rng(11);
    std::vector<uint8_t> data(100000);
    for (auto& b : data)
        b = uint8_t(rng());
    const uint32_t whole = CrcUpdate(0xFFFFFFFFu, data.data(), data.size());
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t pos = 0; pos < data.size();) {
        size_t n = std::min<size_t>(rng() % 5000, data.size() - pos);
        crc = CrcUpdate(crc, data.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(crc, whole);
}

// The value of two pieces joined, from the pieces' own values, for every split of the data
// (empty pieces too) and for a long second piece.
TEST(Crc32, CombinedPiecesGiveTheWholeValue) {
    std::mt19937 rng(5);
    std::vector<uint8_t> data(3000);
    for (auto& b : data)
        b = uint8_t(rng());
    const auto finished = [&](size_t from, size_t n) {
        return ~CrcUpdate(0xFFFFFFFFu, data.data() + from, n);
    };
    for (size_t split :
         {size_t(0), size_t(1), size_t(7), size_t(1500), data.size() - 1, data.size()}) {
        EXPECT_EQ(CrcCombine(finished(0, split), finished(split, data.size() - split),
                             data.size() - split),
                  finished(0, data.size()))
            << split;
    }
    const std::vector<uint8_t> zeros(5'000'000);
    EXPECT_EQ(
        CrcCombine(0xCBF43926u, ~CrcUpdate(0xFFFFFFFFu, zeros.data(), zeros.size()), zeros.size()),
        uint32_t(crc32(crc32(0, reinterpret_cast<const Bytef*>("123456789"), 9), zeros.data(),
                       uInt(zeros.size()))));
}

} // namespace
} // namespace dvl::unzip
