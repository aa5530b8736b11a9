// The ARC and PAK readers on the peer fixtures, compared with lsar, and on
// hand-built archives with folders.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/archive/lister/peer_listers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class ArcReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

struct ArcEntry {
    uint8_t method = 8;
    std::string name{};
    uint32_t packed = 10, original = 30;
};

// A header (25 bytes for method 1, 29 otherwise) and its filler data;
// method 31 is the two-byte end-of-directory record.
void AddArc(std::vector<uint8_t>& out, const ArcEntry& e) {
    out.push_back(0x1A);
    out.push_back(e.method);
    if (e.method == 31 || e.method == 0) return;
    std::string name = e.name;
    name.resize(13, '\0');
    out.insert(out.end(), name.begin(), name.end());
    test::PutLe32(out, e.packed);
    test::PutLe32(out, 0x7C213A8B); // date word 0x3A8B, time word 0x7C21
    test::PutLe16(out, 0xABCD);
    if (e.method != 1) test::PutLe32(out, e.original);
    out.resize(out.size() + e.packed, 'd');
}

std::vector<uint8_t> BuildArc(const std::vector<ArcEntry>& entries) {
    std::vector<uint8_t> out;
    for (const auto& e : entries)
        AddArc(out, e);
    AddArc(out, {.method = 0});
    return out;
}

TEST_F(ArcReader, FoldersPrefixTheirEntries) {
    const auto bytes = BuildArc({
        {.name = "TOP.TXT"},
        {.method = 30, .name = "DOCS", .packed = 0, .original = 0},
        {.name = "IN.TXT"},
        {.method = 30, .name = "DEEP", .packed = 0, .original = 0},
        {.method = 2, .name = "DEEPER.BIN"},
        {.method = 31},
        {.method = 31},
        {.method = 1, .name = "OLD.DAT", .packed = 7},
        {.method = 9, .name = "LAST.TXT"},
    });
    test::WriteFile(dir / "built.arc", bytes);
    const auto l = test::List(dir / "built.arc");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l),
              (std::vector<std::string>{"TOP.TXT", "DOCS\\IN.TXT", "DOCS\\DEEP\\DEEPER.BIN",
                                        "OLD.DAT", "LAST.TXT"}));
    EXPECT_EQ(l.readFiles[1], "DOCS\\");
    EXPECT_EQ(l.entries[0].date, "2009-04-11 15:33:02");
    EXPECT_EQ(l.entries[0].crc, 0xABCDu);
    EXPECT_EQ(l.entries[0].unpacked, 30);
    EXPECT_EQ(l.entries[0].externalAttr, 0x20u);
    // Method 1 has the short header; its original size is its stored size.
    EXPECT_EQ(l.entries[3].packed, 7);
    EXPECT_EQ(l.entries[3].unpacked, 7);
    EXPECT_EQ(l.totals, 5);

    const auto dirs = test::List(dir / "built.arc", [](TLorvex& x) {
        x.SetShowBlankDirs(true);
        x.SetFileSpec("*.txt");
    });
    EXPECT_EQ(test::Names(dirs), (std::vector<std::string>{"TOP.TXT", "DOCS\\", "DOCS\\IN.TXT",
                                                           "DOCS\\DEEP\\", "LAST.TXT"}));
    EXPECT_EQ(dirs.entries[1].method, "Dir");
    EXPECT_EQ(dirs.entries[1].externalAttr, 0x10u);
    EXPECT_EQ(dirs.entries[1].packed, 0);

    DVL_REQUIRE_TOOL("lsar");
    std::vector<std::string> peer;
    for (const auto& e : test::LsarEntries(dir / "built.arc"))
        if (!e.directory) peer.push_back(e.name);
    EXPECT_EQ(peer, test::Names(l));
}

TEST(PakReader, NoFoldersAndPakMethods) {
    test::KeepCurrentDir keep;
    test::TempDir dir;
    // Method 30 means nothing special here.
    const auto bytes = BuildArc({{.method = 10, .name = "A.TXT"},
                                 {.method = 30, .name = "NOTDIR", .packed = 4},
                                 {.method = 11, .name = "B.TXT"}});
    test::WriteFile(dir / "built.pak", bytes);
    const auto l = test::List(dir / "built.pak");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l), (std::vector<std::string>{"A.TXT", "NOTDIR", "B.TXT"}));
    EXPECT_EQ(l.entries[0].method, "Crushed");
    EXPECT_EQ(l.entries[1].packed, 4);
    EXPECT_EQ(l.entries[1].externalAttr, 0x20u);
    EXPECT_EQ(l.totals, 3);
}

// No archiver for this format is packaged; nomarch lists it as this reader
// does (method 30 included), lsar as ARC (which takes 30 for a folder).
TEST_F(ArcReader, PakMatchesNomarchAndLsar) {
    DVL_REQUIRE_TOOL("nomarch");
    const auto bytes = BuildArc({{.method = 10, .name = "CRUSHED.TXT", .packed = 17},
                                 {.method = 11, .name = "DISTILL.BIN", .packed = 5, .original = 9},
                                 {.method = 2, .name = "STORED.DAT", .packed = 3, .original = 3},
                                 {.method = 30, .name = "NOTDIR", .packed = 4}});
    test::WriteFile(dir / "built.pak", bytes);
    const auto l = test::List(dir / "built.pak");
    ASSERT_TRUE(l.result);
    std::vector<test::NomarchEntry> got;
    for (const auto& e : l.entries) {
        std::string name = e.name;
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        got.push_back({name, e.methodCode, e.packed, e.unpacked, e.date.substr(0, 16), e.crc});
    }
    EXPECT_EQ(got, test::NomarchEntries(dir / "built.pak"));
    EXPECT_EQ(l.entries[0].method, "Crushed");
    EXPECT_EQ(l.entries[1].method, "Distill");

    DVL_REQUIRE_TOOL("lsar");
    std::vector<test::PeerEntry> want = test::LsarEntries(dir / "built.pak");
    std::erase_if(want, [](const auto& e) { return e.directory || e.name == "NOTDIR\\"; });
    std::vector<test::PeerEntry> files;
    for (size_t i = 0; i < 3; ++i)
        files.push_back(
            {l.entries[i].name, l.entries[i].unpacked, l.entries[i].date.substr(0, 16), false});
    EXPECT_EQ(files, want);
}

TEST_F(ArcReader, PeerFixturesMatchLsar) {
    DVL_REQUIRE_TOOL("lsar");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    int compared = 0;
    for (const auto& file : fs::directory_iterator(peer / "arc")) {
        SCOPED_TRACE(file.path().filename().string());
        const auto l = test::List(file.path());
        // Detection takes a file for ARC by the first entry's method (8, 9
        // or 30) only.
        if (!l.result) continue;
        ++compared;
        std::vector<test::PeerEntry> got;
        for (const auto& e : l.entries)
            got.push_back({e.name, e.unpacked, e.date.substr(0, 16), false});
        EXPECT_EQ(got, test::LsarEntries(file.path()));
    }
    EXPECT_GE(compared, 2);
}

} // namespace
} // namespace dvl
