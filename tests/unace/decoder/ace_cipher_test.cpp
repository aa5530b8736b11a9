// The member cipher against known values, and an encrypted real member deciphered and decoded.
#include "tests/support/test_support.h"
#include "tests/unace/decoder/member_walk.h"
#include "unace/decoder/ace_cipher.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dvl::test {
namespace {

using unace::detail::AceCipher;
using unace::detail::PasswordDigest;

// The usual CRC-32 (with the final inversion).
uint32_t Crc32(const std::vector<uint8_t>& data) {
    return ~RawCrc(data);
}

TEST(AceCipher, DigestTablesAndBlocksMatchKnownValues) {
    EXPECT_EQ(PasswordDigest("1234"), (std::array<uint32_t, 5>{0x42E17F0F, 0x0416C052, 0xBD187D39,
                                                               0xA7AF418F, 0x0B6311FD}));
    EXPECT_EQ(
        PasswordDigest("123456789"),
        (std::array<uint32_t, 5>{0xB70ECB9C, 0xC63C99E5, 0xF1E50085, 0x4E0246FE, 0x3571369E}));
    // Only the first 50 bytes of a password count.
    EXPECT_EQ(PasswordDigest(std::string(50, 'p') + "tail"), PasswordDigest(std::string(50, 'p')));

    std::vector<uint8_t> tables;
    for (uint32_t word : unace::detail::kCipherInitialTables)
        PutLe32(tables, word);
    EXPECT_EQ(Crc32(tables), 0x141A38B4u);

    uint32_t left = 0, right = 0;
    AceCipher(std::array<uint32_t, 5>{}).EncryptBlock(left, right);
    EXPECT_EQ(left, 0x559C5FE7u);
    EXPECT_EQ(right, 0xE156E51Fu);

    AceCipher cipher(PasswordDigest("123456789"));
    std::vector<uint8_t> block(8, 0xFF);
    cipher.DecryptCbc(block.data(), 1);
    EXPECT_EQ(block, (std::vector<uint8_t>{0xB7, 0x77, 0x46, 0x40, 0x35, 0x2E, 0x65, 0x72}));
    // Decrypting undoes encrypting.
    uint32_t l = 0x01234567, r = 0x89ABCDEF;
    cipher.EncryptBlock(l, r);
    cipher.DecryptBlock(l, r);
    EXPECT_EQ(l, 0x01234567u);
    EXPECT_EQ(r, 0x89ABCDEFu);
}

TEST(AceCipher, EncryptedMemberDecodesWithItsPasswordOnly) {
    const std::filesystem::path root = PeerFixtures();
    const std::filesystem::path path = root.empty() ? root : root / "ace" / "passwd2.ace";
    if (path.empty() || !std::filesystem::exists(path))
        GTEST_SKIP() << "peer fixture passwd2.ace is absent";
    const WalkedAceVolume volume = WalkAceVolume(path);
    ASSERT_EQ(volume.members.size(), 1u);
    const WalkedAceMember& m = volume.members[0];
    ASSERT_TRUE(m.flags & 0x4000);

    for (const char* password : {"1234", "4321"}) {
        SCOPED_TRACE(password);
        for (size_t piece : {size_t(SIZE_MAX), size_t(3)}) {
            BytesInput encrypted(m.packed, piece);
            unace::DecryptingInput input(encrypted, password);
            unace::AceDecoder decoder;
            std::vector<uint8_t> out;
            const unace::DecodeResult result = decoder.DecodeMember(
                m.compType, m.dictBits, m.origSize, input, [&](const uint8_t* data, size_t size) {
                    out.insert(out.end(), data, data + size);
                    return true;
                });
            const bool right = result == unace::DecodeResult::Ok && RawCrc(out) == m.crc;
            EXPECT_EQ(right, std::string(password) == "1234");
            if (std::string(password) == "1234") {
                EXPECT_EQ(out, std::vector<uint8_t>(15859, 0));
            }
        }
    }
}

} // namespace
} // namespace dvl::test
