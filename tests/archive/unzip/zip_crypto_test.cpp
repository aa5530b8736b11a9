// Traditional decryption on archives that Info-ZIP zip and 7-Zip encrypt at test time: the
// password check (time-based and CRC-based check bytes), rejection of wrong passwords, and the
// decrypted, inflated data.
#include "archive/unzip/zip_crypto.h"

#include "archive/codecs/crc32.h"
#include "tests/archive/unzip/codec_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl::unzip {
namespace {

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t(d.at(at)) | uint32_t(d.at(at + 1)) << 8 | uint32_t(d.at(at + 2)) << 16 |
           uint32_t(d.at(at + 3)) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& d, size_t at) {
    return uint16_t(d.at(at) | d.at(at + 1) << 8);
}

// The first entry of an archive: the fields the password check needs and its data.
struct Entry {
    uint16_t flags = 0, method = 0;
    uint32_t dosDateTime = 0, crc = 0;
    std::vector<uint8_t> data; // the 12-byte encryption header and the encrypted data
};

Entry FirstEntry(const std::vector<uint8_t>& zip) {
    // The central directory gives the sizes (the local header may defer them to a descriptor).
    size_t end = zip.size() - 22;
    while (Le32(zip, end) != 0x06054B50u)
        --end;
    const size_t central = Le32(zip, end + 16);
    EXPECT_EQ(Le32(zip, central), 0x02014B50u);
    Entry e;
    e.crc = Le32(zip, central + 16);
    const uint32_t packed = Le32(zip, central + 20);
    const size_t local = Le32(zip, central + 42);
    EXPECT_EQ(Le32(zip, local), 0x04034B50u);
    e.flags = Le16(zip, local + 6);
    e.method = Le16(zip, local + 8);
    e.dosDateTime = Le32(zip, local + 10);
    const size_t data = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
    e.data.assign(zip.begin() + long(data), zip.begin() + long(data + packed));
    return e;
}

std::vector<uint8_t> Decrypted(Entry e, const std::string& password) {
    ZipKeys keys;
    EXPECT_TRUE(CheckPassword(keys, password, e.data.data(), e.flags, e.dosDateTime, e.crc));
    std::vector<uint8_t> body(e.data.begin() + 12, e.data.end());
    // In uneven pieces: the keys carry over from one call to the next.
    for (size_t pos = 0, n = 1; pos < body.size(); pos += n, n = n * 3 + 1)
        DecryptBuffer(keys, body.data() + pos, std::min(n, body.size() - pos));
    return body;
}

struct Maker {
    const char* tool;
    const char* command; // %s: the archive, then the member
    bool timeCheck;      // the check byte is the DOS time's high byte (flag bit 3)
    friend void PrintTo(const Maker& m, std::ostream* os) { *os << m.tool; }
};

class Encrypted : public ::testing::TestWithParam<Maker> {};

TEST_P(Encrypted, PasswordChecksAndDataDecrypts) {
    const Maker& maker = GetParam();
    DVL_REQUIRE_TOOL(maker.tool);
    dvl::test::TempDir dir;
    const std::vector<uint8_t> original = test::Sample(test::Content::kText, 150000, 3);
    dvl::test::WriteFile(dir / "member.txt", original);
    char command[256];
    std::snprintf(command, sizeof command, maker.command, "secret.zip", "member.txt");
    ASSERT_EQ(dvl::test::Run(command, dir.Path()), 0) << command;

    const Entry entry = FirstEntry(dvl::test::ReadFile(dir / "secret.zip"));
    ASSERT_TRUE(entry.flags & 1) << "not encrypted";
    ASSERT_EQ(entry.method, 8);
    EXPECT_EQ((entry.flags & 8) != 0, maker.timeCheck);

    const std::vector<uint8_t> body = Decrypted(entry, "secret");
    test::Decoded d = test::Inflate(body);
    ASSERT_EQ(d.result.error, 0);
    EXPECT_EQ(d.result.consumed, body.size());
    EXPECT_TRUE(d.bytes == original);
    EXPECT_EQ(~codecs::CrcUpdate(0xFFFFFFFFu, d.bytes.data(), d.bytes.size()), entry.crc);

    // A wrong password passes the one-byte check by chance only (about 1 in 256).
    int passed = 0;
    for (int i = 0; i < 512; ++i) {
        ZipKeys keys;
        passed += CheckPassword(keys, "wrong" + std::to_string(i), entry.data.data(), entry.flags,
                                entry.dosDateTime, entry.crc);
    }
    EXPECT_LE(passed, 12);
}

INSTANTIATE_TEST_SUITE_P(
    Makers, Encrypted,
    ::testing::Values(Maker{"zip", "zip -q -X -P secret %s %s", true},
                      Maker{"7zz", "7zz a -bd -bso0 -tzip -psecret -mem=ZipCrypto %s %s", false}),
    [](const auto& info) { return std::string(info.param.tool); });

TEST(ZipCrypto, InitKeysStartsAfresh) {
    ZipKeys used;
    InitKeys(used, "previous password");
    InitKeys(used, "pw");
    ZipKeys fresh;
    InitKeys(fresh, "pw");
    EXPECT_EQ(used.k0, fresh.k0);
    EXPECT_EQ(used.k1, fresh.k1);
    EXPECT_EQ(used.k2, fresh.k2);
    InitKeys(fresh, "");
    EXPECT_EQ(fresh.k0, 0x12345678u);
    EXPECT_EQ(fresh.k1, 0x23456789u);
    EXPECT_EQ(fresh.k2, 0x34567890u);
}

} // namespace
} // namespace dvl::unzip
