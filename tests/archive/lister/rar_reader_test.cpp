// The RAR reader on archives made by rar and on the peer fixtures, compared
// with lsar.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/archive/lister/peer_listers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class RarReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

std::vector<std::pair<std::string, int64_t>> NamesAndSizes(const test::Listing& l) {
    std::vector<std::pair<std::string, int64_t>> out;
    for (const auto& e : l.entries)
        out.emplace_back(e.name, e.unpacked);
    return out;
}

std::vector<std::pair<std::string, int64_t>>
NamesAndSizes(const std::vector<test::PeerEntry>& entries) {
    std::vector<std::pair<std::string, int64_t>> out;
    for (const auto& e : entries)
        out.emplace_back(e.name, e.size);
    return out;
}

// rar itself no longer writes this format; the fixtures cover it.
TEST_F(RarReader, FlagsDirectoriesAndEncryption) {
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const auto encrypted = test::List(peer / "rar/rar3-comment-psw.rar");
    ASSERT_FALSE(encrypted.entries.empty());
    for (const auto& e : encrypted.entries) {
        if (e.unpacked != 0) {
            EXPECT_EQ(e.encrypted, 1u) << e.name;
        }
    }

    // Encrypted headers cannot be walked: nothing is listed, quietly.
    const auto hidden = test::List(peer / "rar/Rar.Encrypted.rar");
    EXPECT_TRUE(hidden.result);
    EXPECT_TRUE(hidden.entries.empty());
    EXPECT_TRUE(hidden.codes.empty());

    // The later format is not misread as this one.
    EXPECT_TRUE(test::List(peer / "rar/Rar5.rar").entries.empty());

    const auto plain = test::List(peer / "rar/Rar4.rar");
    ASSERT_EQ(plain.entries.size(), 5u);
    EXPECT_EQ(plain.entries[0].name, "exe\\test.exe");
    EXPECT_EQ(plain.entries[0].method, "Normal");
    EXPECT_EQ(plain.entries[0].externalAttr, 0x20u);
    EXPECT_EQ(plain.entries[0].packed, 18037);
    // The Unicode form of a name wins over its plain form.
    EXPECT_EQ(plain.entries[2].name, "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt");
    EXPECT_EQ(plain.entries[3].name, "exe");
    EXPECT_EQ(plain.totals, 5);
}

TEST_F(RarReader, NameBeyondItsHeaderEndsTheWalk) {
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    auto bytes = test::ReadFile(peer / "rar/Rar4.rar");
    // The second file header starts at 0x46BA; its name size is at +26.
    bytes[0x46BA + 26] = 0xFF;
    bytes[0x46BA + 27] = 0xFF;
    test::WriteFile(dir / "damaged.rar", bytes);
    const auto l = test::List(dir / "damaged.rar");
    EXPECT_TRUE(l.result);
    EXPECT_EQ(test::Names(l), std::vector<std::string>{"exe\\test.exe"});
    EXPECT_TRUE(l.codes.empty());
}

TEST_F(RarReader, OldCommentAndFilter) {
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const auto commented = test::List(peer / "rar/rar202-comment-nopsw.rar");
    ASSERT_FALSE(commented.entries.empty());
    EXPECT_EQ(commented.entries[0].archiveComment, "Archive Comment encrypted...");

    const auto all = test::List(peer / "rar/rar3-subdirs.rar");
    const auto txt =
        test::List(peer / "rar/rar3-subdirs.rar", [](TLorvex& l) { l.SetFileSpec("*.txt"); });
    ASSERT_FALSE(txt.entries.empty());
    EXPECT_LT(txt.entries.size(), all.entries.size());
    for (const auto& e : txt.entries)
        EXPECT_EQ(e.name.substr(e.name.size() - 4), ".txt");
}

TEST_F(RarReader, PeerFixturesMatchLsar) {
    DVL_REQUIRE_TOOL("lsar");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    int compared = 0;
    for (const auto& file : fs::directory_iterator(peer / "rar")) {
        const std::string name = file.path().filename().string();
        // A set lists whole files across its volumes; the later format and
        // encrypted headers are not read here.
        if (file.path().extension() != ".rar" || name.find(".multi.") != std::string::npos ||
            name.find("old") != std::string::npos || name.find("Rar5") != std::string::npos ||
            name.find("rar5") != std::string::npos)
            continue;
        // Names stored as UTF-8 without their Unicode form take the code-page
        // conversion of every plain name.
        if (name == "unicode.rar" || name == "test_read_format_rar_unicode.rar") continue;
        SCOPED_TRACE(name);
        const auto l = test::List(file.path());
        ASSERT_TRUE(l.result);
        if (l.entries.empty()) continue; // encrypted headers
        // lsar shows folders with a trailing separator and links with their
        // targets.
        auto want = test::LsarEntries(file.path());
        for (auto& e : want) {
            if (const size_t arrow = e.name.find(" -> "); arrow != std::string::npos)
                e.name.resize(arrow);
            if (!e.name.empty() && e.name.back() == '\\') e.name.pop_back();
        }
        EXPECT_EQ(NamesAndSizes(l), NamesAndSizes(want));
        ++compared;
    }
    EXPECT_GE(compared, 15);
}

} // namespace
} // namespace dvl
