// The RAR reader on archives made by rar and on the peer fixtures, compared
// with lsar and with rar's own technical listing.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/archive/lister/peer_listers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

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

// A tree of files and folders to archive, with one old time of sub-second
// precision and known modes.
void MakeTree(const fs::path& root) {
    fs::create_directories(root / "sub/deeper");
    fs::create_directories(root / "empty");
    test::WriteFile(root / "a.txt", "hello\n");
    std::string numbers;
    for (int i = 0; i < 3000; ++i)
        numbers += std::to_string(i) + "\n";
    test::WriteFile(root / "sub/deeper/c.txt", numbers);
    std::vector<uint8_t> noise(5000);
    uint32_t x = 12345;
    for (auto& b : noise)
        b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    test::WriteFile(root / "sub/b.bin", noise);
    chmod((root / "a.txt").c_str(), 0644);
    chmod((root / "sub/b.bin").c_str(), 0600);
    const struct timespec times[2] = {{1614834367, 123456789}, {1614834367, 123456789}};
    utimensat(AT_FDCWD, (root / "a.txt").c_str(), times, 0); // 2021-03-04 05:06:07.123
}

// Every entry as rar's technical listing shows it.
void ExpectMatchesRar(const test::Listing& l, const std::vector<test::RarTechnicalEntry>& want) {
    ASSERT_EQ(l.entries.size(), want.size());
    ASSERT_FALSE(want.empty());
    for (size_t i = 0; i < want.size(); ++i) {
        const auto& got = l.entries[i];
        const auto& w = want[i];
        SCOPED_TRACE(w.name);
        EXPECT_EQ(got.name, w.name);
        EXPECT_EQ(got.unpacked, w.size);
        EXPECT_EQ(got.packed, w.packed);
        EXPECT_EQ(got.date, w.date);
        EXPECT_EQ(got.crc, w.crc);
        EXPECT_EQ(got.versionMadeBy, w.version);
        EXPECT_EQ(got.methodCode, 0x30 + w.method);
        EXPECT_EQ(got.encrypted, unsigned(w.encrypted));
        EXPECT_EQ(got.versionNeeded, 0);
        EXPECT_EQ(got.internalAttr, 0x20);
    }
}

TEST_F(RarReader, Rar5MatchesTheArchiver) {
    DVL_REQUIRE_TOOL("rar");
    MakeTree(dir / "src");
    struct Case {
        std::string name, switches, password;
    };
    const Case cases[] = {
        {"plain", "", ""},
        {"solid", "-s -m5", ""},
        {"stored", "-m0", ""},
        {"encrypted", "-psecret", "secret"},
        {"all_times", "-tsc -tsa", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path archive = dir / (c.name + ".rar");
        ASSERT_EQ(test::Run("rar a -ma5 -r -idq " + c.switches + " " + test::Quote(archive) +
                                " a.txt sub empty",
                            dir / "src"),
                  0);
        const auto l = test::List(archive);
        ASSERT_TRUE(l.result);
        EXPECT_TRUE(l.codes.empty());
        ExpectMatchesRar(l,
                         test::RarTechnicalEntries(archive, c.password.empty() ? "-" : c.password));
        EXPECT_EQ(l.totals, int(l.entries.size()));
    }

    // Names, methods and attributes as the earlier format's readers show them.
    const auto l = test::List(dir / "plain.rar");
    ASSERT_GE(l.entries.size(), 5u);
    std::map<std::string, test::ListedEntry> byName;
    for (const auto& e : l.entries)
        byName[e.name] = e;
    ASSERT_EQ(byName.count("sub\\deeper\\c.txt"), 1u);
    EXPECT_EQ(byName["a.txt"].method, "Stored"); // too small to compress
    EXPECT_EQ(byName["a.txt"].externalAttr, 0100644u);
    EXPECT_EQ(byName["a.txt"].date, "2021-03-04 05:06:07");
    EXPECT_EQ(byName["sub\\b.bin"].externalAttr, 0100600u);
    EXPECT_EQ(byName["sub\\deeper\\c.txt"].method, "Normal");
    EXPECT_EQ(byName["empty"].externalAttr & 0170000u, 0040000u);
    EXPECT_EQ(byName["empty"].packed, 0);
    EXPECT_EQ(test::List(dir / "solid.rar", [](TLorvex& x) { x.SetFileSpec("c.txt"); })
                  .entries.at(0)
                  .method,
              "Best");

    // Behind a DOS stub whose image ends where the archive starts.
    std::vector<uint8_t> sfx = {'M', 'Z', 0, 0, 3, 0}; // (3 - 1) pages of 512 bytes
    sfx.resize(1024, 0);
    const auto archive = test::ReadFile(dir / "plain.rar");
    sfx.insert(sfx.end(), archive.begin(), archive.end());
    test::WriteFile(dir / "plain.exe", sfx);
    const auto behindStub = test::List(dir / "plain.exe");
    EXPECT_EQ(test::Names(behindStub), test::Names(l));
    ASSERT_FALSE(behindStub.entries.empty());
    EXPECT_EQ(behindStub.entries[0].offset, l.entries[0].offset + 1024);

    // A filter leaves the folders out unless blank folders are shown.
    const auto txt = test::List(dir / "plain.rar", [](TLorvex& x) { x.SetFileSpec("*.txt"); });
    EXPECT_EQ(test::Names(txt), (std::vector<std::string>{"a.txt", "sub\\deeper\\c.txt"}));
    const auto dirs = test::List(dir / "plain.rar", [](TLorvex& x) {
        x.SetFileSpec("*.txt");
        x.SetShowBlankDirs(true);
    });
    EXPECT_GT(dirs.entries.size(), txt.entries.size());
}

TEST_F(RarReader, Rar5CommentsAndEncryptedHeaders) {
    DVL_REQUIRE_TOOL("rar");
    test::WriteFile(dir / "a.txt", "hello\n");
    test::WriteFile(dir / "comment.txt", "first line\nsecond line\n");
    ASSERT_EQ(test::Run("rar a -ma5 -idq -zcomment.txt commented.rar a.txt", dir.Path()), 0);
    const auto commented = test::List(dir / "commented.rar");
    ASSERT_EQ(commented.entries.size(), 1u);
    EXPECT_EQ(commented.entries[0].archiveComment, "first line\nsecond line\n");

    // Encrypted headers hide every entry: nothing is listed, quietly.
    ASSERT_EQ(test::Run("rar a -ma5 -idq -hpsecret hidden.rar a.txt comment.txt", dir.Path()), 0);
    const auto hidden = test::List(dir / "hidden.rar");
    EXPECT_TRUE(hidden.result);
    EXPECT_TRUE(hidden.entries.empty());
    EXPECT_TRUE(hidden.codes.empty());
    EXPECT_EQ(hidden.totals, 0);
}

TEST_F(RarReader, Rar5DamageEndsTheWalk) {
    DVL_REQUIRE_TOOL("rar");
    MakeTree(dir / "src");
    ASSERT_EQ(test::Run("rar a -ma5 -idq -m0 ../good.rar a.txt sub/b.bin", dir / "src"), 0);
    const auto good = test::ReadFile(dir / "good.rar");
    const auto whole = test::List(dir / "good.rar");
    ASSERT_EQ(whole.entries.size(), 2u);
    const size_t second = size_t(whole.entries[1].offset);
    ASSERT_LT(second + 16, good.size());

    struct Case {
        std::string name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const Case cases[] = {
        {"header byte changed", [&](auto& b) { b[second + 10] ^= 0x55; }},
        {"cut inside the header", [&](auto& b) { b.resize(second + 12); }},
        {"size past the limit",
         [&](auto& b) { b[second + 4] = b[second + 5] = b[second + 6] = 0xFF; }},
        {"zero header size", [&](auto& b) { b[second + 4] = 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = good;
        c.damage(bytes);
        test::WriteFile(dir / "damaged.rar", bytes);
        const auto l = test::List(dir / "damaged.rar");
        EXPECT_TRUE(l.result);
        // The walk stopped short of the end block.
        EXPECT_EQ(l.codes, std::vector<int32_t>{25126});
        EXPECT_EQ(test::Names(l), std::vector<std::string>{"a.txt"});
    }
}

TEST_F(RarReader, Rar5FixturesMatchTheArchiver) {
    DVL_REQUIRE_TOOL("rar");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    // Sets are listed across their volumes by rar; the encrypted-header
    // archives list nothing (below).
    const std::pair<std::string, std::string> files[] = {
        {"Rar5.solid.rar", ""},
        {"Rar5.comment.rar", ""},
        {"Rar5.encrypted_filesOnly.rar", "test"},
        {"rar5-psw.rar", "password"},
        {"rar5-subdirs.rar", ""},
        {"testfile.rar5.rar", ""},
        {"testfile.rar5.rr.rar", ""},
        {"testfile.rar5.locked.rar", ""},
    };
    for (const auto& [name, password] : files) {
        SCOPED_TRACE(name);
        const auto l = test::List(peer / "rar" / name);
        ASSERT_TRUE(l.result);
        ExpectMatchesRar(
            l, test::RarTechnicalEntries(peer / "rar" / name, password.empty() ? "-" : password));
    }
    const auto hidden = test::List(peer / "rar/rar5-hpsw.rar");
    EXPECT_TRUE(hidden.result);
    EXPECT_TRUE(hidden.entries.empty());

    // lsar agrees on the files' names and sizes (it leaves this archive's
    // folders out).
    DVL_REQUIRE_TOOL("lsar");
    auto listed = NamesAndSizes(test::List(peer / "rar/Rar5.solid.rar"));
    std::erase_if(listed, [](const auto& e) { return e.second == 0; });
    EXPECT_EQ(listed, NamesAndSizes(test::LsarEntries(peer / "rar/Rar5.solid.rar")));
}

} // namespace
} // namespace dvl
