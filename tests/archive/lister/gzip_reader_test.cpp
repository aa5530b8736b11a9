// The GZip-family reader on files made by gzip and compress, on hand-built
// gzip headers and on the peer fixtures.
#include "archive/lister/lorvex.h"
#include "platform/times.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class GZipReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

// A gzip header with the given flags, extra field and stored name, filler
// data and a trailer.
std::vector<uint8_t> BuildGZip(uint8_t method, uint8_t flags, const std::string& extra,
                               const std::string& name, uint32_t crc, uint32_t size) {
    std::vector<uint8_t> out = {0x1F, 0x8B, method, flags};
    test::PutLe32(out, 1234567890); // 2009-02-13 23:31:30 UTC
    out.push_back(0);
    out.push_back(3);
    if (flags & 4) {
        test::PutLe16(out, uint32_t(extra.size()));
        out.insert(out.end(), extra.begin(), extra.end());
    }
    if (flags & 8) {
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(0);
    }
    out.resize(out.size() + 40, 'd');
    test::PutLe32(out, crc);
    test::PutLe32(out, size);
    return out;
}

TEST_F(GZipReader, FilesMadeByGZip) {
    DVL_REQUIRE_TOOL("gzip");
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "line " + std::to_string(i) + "\n";
    test::WriteFile(dir / "named.txt", text);
    test::WriteFile(dir / "report.txt", text);
    ASSERT_EQ(test::Run("gzip -c named.txt > stored.gz && gzip -n report.txt", dir.Path()), 0);

    // A stored name wins over the file's name; without one the file's name
    // loses its last extension.
    const auto named = test::List(dir / "stored.gz");
    ASSERT_TRUE(named.result);
    ASSERT_EQ(named.entries.size(), 1u);
    EXPECT_EQ(named.entries[0].name, "named.txt");
    EXPECT_EQ(named.entries[0].method, "Deflate");
    EXPECT_EQ(named.entries[0].unpacked, int64_t(text.size()));
    EXPECT_EQ(named.entries[0].packed, int64_t(fs::file_size(dir / "stored.gz")) - 8);
    EXPECT_EQ(named.entries[0].number, 1);
    EXPECT_EQ(named.totals, 1);
    EXPECT_EQ(named.totalUnpacked, int64_t(text.size()));

    const auto plain = test::List(dir / "report.txt.gz");
    ASSERT_EQ(plain.entries.size(), 1u);
    EXPECT_EQ(plain.entries[0].name, "report.txt");
    EXPECT_EQ(plain.readFiles, std::vector<std::string>{"report.txt"});
    // -n stores no time.
    EXPECT_EQ(plain.entries[0].date, "1970-01-01 00:00:00");
    EXPECT_EQ(plain.entries[0].externalAttr, 0x20u);
    // The CRC is the trailer's, as gzip itself reports it.
    const std::string verbose =
        test::RunAndCapture("gzip -lv " + test::Quote(dir / "report.txt.gz"));
    char crcText[16];
    std::snprintf(crcText, sizeof crcText, "%08x", plain.entries[0].crc);
    EXPECT_NE(verbose.find(crcText), std::string::npos) << verbose;
}

TEST_F(GZipReader, ExtraFieldStoredNameAndOddMethods) {
    struct Case {
        uint8_t method, flags;
        std::string extra, name, wantName, wantMethod;
        int64_t extraLength;
        unsigned encrypted;
    };
    const Case cases[] = {
        {8, 0x0C, "ABCDEFGHIJ", "inner.bin", "inner.bin", "Deflate", 10, 0},
        {8, 0x04, "xy", "", "plain", "Deflate", 2, 0},
        {0, 0x28, "", "secret", "secret", "Stored", 0, 1},
        {5, 0x08, "", "odd", "odd", "Unknown", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wantName);
        const auto bytes = BuildGZip(c.method, c.flags, c.extra, c.name, 0xDEADBEEF, 4242);
        test::WriteFile(dir / "plain.gz", bytes);
        const auto l = test::List(dir / "plain.gz");
        ASSERT_EQ(l.entries.size(), 1u);
        const auto& e = l.entries[0];
        EXPECT_EQ(e.name, c.wantName);
        EXPECT_EQ(e.method, c.wantMethod);
        EXPECT_EQ(e.methodCode, c.wantMethod == "Unknown" ? 10 : c.method);
        EXPECT_EQ(e.crc, 0xDEADBEEFu);
        EXPECT_EQ(e.unpacked, 4242);
        EXPECT_EQ(e.packed, int64_t(bytes.size()) - c.extraLength - 8);
        EXPECT_EQ(e.encrypted, c.encrypted);
        EXPECT_EQ(e.date, "2009-02-13 23:31:30");
    }
}

TEST_F(GZipReader, CompressPackAndLzhUseTheFileItself) {
    const std::pair<uint8_t, std::string> kinds[] = {
        {0x9D, "Compress"}, {0x1E, "Packed"}, {0xA0, "Lzh"}};
    for (const auto& [second, method] : kinds) {
        SCOPED_TRACE(method);
        std::vector<uint8_t> bytes = {0x1F, second};
        bytes.resize(300, 0x55);
        test::WriteFile(dir / "data.tar.Z", bytes);
        ASSERT_TRUE(platform::SetLastWriteTime(test::Win(dir / "data.tar.Z"), 1262347384));
        const auto l = test::List(dir / "data.tar.Z");
        ASSERT_EQ(l.entries.size(), 1u);
        const auto& e = l.entries[0];
        EXPECT_EQ(e.name, "data.tar");
        EXPECT_EQ(e.method, method);
        EXPECT_EQ(e.packed, 300);
        EXPECT_EQ(e.unpacked, 300);
        EXPECT_EQ(e.ratio, 0u);
        EXPECT_EQ(e.crc, 0u);
        // The file's own time, at the two-second steps of a DOS time.
        EXPECT_EQ(e.date, "2010-01-01 12:03:04");
    }
}

TEST_F(GZipReader, ShortAndForeignFilesListSafely) {
    // A header without a trailer lists no made-up sizes; a wrong magic lists
    // nothing.
    test::WriteFile(dir / "short.gz", std::vector<uint8_t>{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 1});
    const auto shortFile = test::List(dir / "short.gz");
    ASSERT_TRUE(shortFile.result);
    ASSERT_EQ(shortFile.entries.size(), 1u);
    EXPECT_EQ(shortFile.entries[0].unpacked, 0);
    EXPECT_EQ(shortFile.entries[0].packed, 3);

    test::WriteFile(dir / "foreign.gz", std::string(64, 'x'));
    const auto foreign = test::List(dir / "foreign.gz");
    EXPECT_TRUE(foreign.entries.empty());
}

TEST_F(GZipReader, PeerFixtures) {
    DVL_REQUIRE_TOOL("gzip");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const char* name : {"gzip/t.txt.gz", "gzip/lorem-ipsum.txt.gz", "gzip/multiple.gz",
                             "gzip/test_compat_gzip_1.tgz"}) {
        SCOPED_TRACE(name);
        const auto l = test::List(peer / name);
        ASSERT_TRUE(l.result);
        ASSERT_EQ(l.entries.size(), 1u);
        // gzip -l prints the trailer's size (the last member's, for several).
        const std::string out = test::RunAndCapture("gzip -lq " + test::Quote(peer / name));
        EXPECT_NE(out.find(" " + std::to_string(l.entries[0].unpacked) + " "), std::string::npos)
            << out;
    }
    for (const char* name : {"compress/t.txt.Z", "compress/test.z", "pack/test.z"}) {
        SCOPED_TRACE(name);
        const auto l = test::List(peer / name);
        ASSERT_EQ(l.entries.size(), 1u);
        EXPECT_EQ(l.entries[0].packed, int64_t(fs::file_size(peer / name)));
    }
}

} // namespace
} // namespace dvl
