// The LHA reader on the peer fixtures, compared with lhasa's listing, and on
// hand-built headers of every level.
#include "archive/bytes.h"
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class LhaReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

// Names and original sizes from "lha l", which prints them in fixed columns.
std::vector<std::pair<std::string, int64_t>> PeerEntries(const fs::path& archive) {
    std::istringstream in(test::RunAndCapture("lha l " + test::Quote(archive)));
    std::vector<std::pair<std::string, int64_t>> entries;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("----------", 0) == 0) {
            inside = !inside;
            continue;
        }
        if (!inside || line.size() < 51) continue;
        std::string name = line.substr(51);
        if (const size_t arrow = name.find(" -> "); arrow != std::string::npos) name.resize(arrow);
        // Links ("name|target") are not listed.
        if (name.find('|') != std::string::npos) continue;
        // Folders do not pass "*.*": their name part is empty.
        if (!name.empty() && name.back() == '/') continue;
        for (char& c : name)
            if (c == '/') c = '\\';
        entries.emplace_back(name, std::stoll(line.substr(23, 7)));
    }
    return entries;
}

TEST_F(LhaReader, PeerFixturesMatchLhasa) {
    DVL_REQUIRE_TOOL("lha");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    int compared = 0;
    for (const auto& file : fs::directory_iterator(peer / "lha")) {
        const std::string ext = file.path().extension().string();
        if (ext != ".lzh" && ext != ".lha" && ext != ".exe" && ext != ".com") continue;
        SCOPED_TRACE(file.path().filename().string());
        const auto want = PeerEntries(file.path());
        if (want.empty()) continue; // lhasa cannot read it either
        const auto l = test::List(file.path());
        // Detection does not find the archive in every self-extractor.
        if (!l.result && (ext == ".exe" || ext == ".com")) continue;
        ASSERT_TRUE(l.result);
        std::vector<std::pair<std::string, int64_t>> got;
        for (const auto& e : l.entries)
            got.emplace_back(e.name, e.unpacked);
        if (file.path().filename() == "lha_amiga_122_level1.lzh") {
            // lhasa joins this folder and name without a separator.
            EXPECT_EQ(got, (std::vector<std::pair<std::string, int64_t>>{
                               {"subdir\\subdir2\\hello.txt", 12}}));
        } else {
            EXPECT_EQ(got, want);
        }
        ++compared;
    }
    EXPECT_GE(compared, 17);
}

// --- hand-built headers -----------------------------------------------------

struct LhaEntry {
    int level = 2;
    std::string method = "-lh5-";
    std::string name{};
    std::string directory{}; // level 1 and 2: a directory-name header
    uint32_t packed = 10, original = 20;
    uint32_t stamp = 0;
    // Levels 1 and 2: extended headers (type, data) ahead of the name header.
    std::vector<std::pair<uint8_t, std::string>> extras{};
};

void AddExtended(std::vector<uint8_t>& out, uint8_t type, const std::string& data) {
    test::PutLe16(out, uint32_t(data.size() + 3)); // this header's size, in the previous one
    out.push_back(type);
    out.insert(out.end(), data.begin(), data.end());
}

void AddEntry(std::vector<uint8_t>& out, const LhaEntry& e) {
    std::vector<uint8_t> h = {0, 0};
    h.insert(h.end(), e.method.begin(), e.method.end());
    std::vector<uint8_t> ext;
    if (e.level >= 1) {
        for (const auto& [type, data] : e.extras)
            AddExtended(ext, type, data);
        if (e.level == 2) AddExtended(ext, 1, e.name);
        if (!e.directory.empty()) AddExtended(ext, 2, e.directory);
        test::PutLe16(ext, 0);
    }
    const uint32_t extraInPacked = e.level == 1 ? uint32_t(ext.size() - 2) : 0;
    test::PutLe32(h, e.packed + extraInPacked);
    test::PutLe32(h, e.original);
    test::PutLe32(h, e.stamp);
    h.push_back(e.level == 2 ? 0 : 0x20);
    h.push_back(uint8_t(e.level));
    if (e.level < 2) {
        h.push_back(uint8_t(e.name.size()));
        h.insert(h.end(), e.name.begin(), e.name.end());
        test::PutLe16(h, 0xBEEF); // CRC-16
        if (e.level == 1) h.push_back('U');
        h[0] = uint8_t(h.size() - 2 + (e.level == 1 ? 2 : 0));
        // Level 1: the first extended header's size closes the base header.
        if (e.level == 1) h.insert(h.end(), ext.begin(), ext.end());
    } else {
        test::PutLe16(h, 0xBEEF);
        h.push_back('U');
        h.insert(h.end(), ext.begin(), ext.end());
        test::PutLe16(h, 0); // room so that the total is not a round number
        h[0] = uint8_t(h.size() & 0xFF);
        h[1] = uint8_t(h.size() >> 8);
    }
    out.insert(out.end(), h.begin(), h.end());
    out.resize(out.size() + e.packed, 'p');
}

TEST_F(LhaReader, HandBuiltLevelsNamesAndMethods) {
    std::vector<uint8_t> bytes;
    AddEntry(
        bytes,
        {.level = 0, .method = "-lh0-", .name = "plain.txt", .directory = "", .stamp = 0x3A8B7C21});
    AddEntry(bytes, {.level = 1, .method = "-lh5-", .name = "one.c", .directory = "src\xFF"});
    AddEntry(bytes, {.level = 2,
                     .name = "deep.txt",
                     .directory = "a\xFF"
                                  "b/c\xFF",
                     .stamp = 1234567890});
    // A double-byte character whose second byte is 0xFF... is not a separator
    // when it follows a lead byte.
    AddEntry(bytes, {.level = 2,
                     .method = "-lzs-",
                     .name = "x",
                     .directory = "\x81\xFF"
                                  "d"});
    AddEntry(bytes, {.level = 2, .method = "-lhd-", .name = "", .directory = "emptydir/"});
    // A long header: its total size is above 255.
    AddEntry(bytes, {.level = 2, .name = std::string(300, 'L'), .directory = ""});
    bytes.push_back(0);
    test::WriteFile(dir / "built.lzh", bytes);

    const auto l = test::List(dir / "built.lzh");
    ASSERT_TRUE(l.result);
    // The folder entry's name part is empty and does not pass "*.*".
    ASSERT_EQ(l.entries.size(), 5u);
    EXPECT_EQ(l.entries[0].name, "plain.txt");
    EXPECT_EQ(l.entries[1].name, "src\\one.c");
    EXPECT_EQ(l.entries[2].name, "a\\b\\c\\deep.txt");
    EXPECT_EQ(l.entries[3].name.find('\\'), l.entries[3].name.size() - 2);
    EXPECT_EQ(l.entries[4].name, std::string(300, 'L'));
    EXPECT_EQ(l.readFiles[4], ""); // before "emptydir\" is added
    // OnReadFile sees the name before its directory.
    EXPECT_EQ(l.readFiles[2], "deep.txt");
    EXPECT_EQ(l.entries[0].method, "Stored");
    EXPECT_EQ(l.entries[0].date, "2009-04-11 15:33:02");
    EXPECT_EQ(l.entries[0].externalAttr, 0x20u);
    EXPECT_EQ(l.entries[1].method, "Frozen-5");
    EXPECT_EQ(l.entries[1].packed, 10); // without its extended headers
    EXPECT_EQ(l.entries[2].date, "2009-02-13 23:31:30");
    EXPECT_EQ(l.entries[3].method, "Unknown");
    EXPECT_EQ(l.entries[2].crc, 0xBEEFu);
    EXPECT_EQ(l.totals, 5);
}

TEST_F(LhaReader, ExtendedHeaderPastItsHeaderEndsTheChain) {
    std::vector<uint8_t> bytes;
    AddEntry(bytes, {.level = 2, .name = "inner.txt", .packed = 12});
    // Level 2 here: 26 bytes up to the first extended header, the file-name
    // header (type, 9 name bytes, the next size, 0, at 36), 2 bytes of room;
    // the header ends at 40.
    ASSERT_EQ(Le16(bytes.data()), 40);
    ASSERT_EQ(Le16(&bytes[36]), 0);
    // The next size now claims 8 bytes from 38, 6 of them in the data, where
    // they read as a directory-name header.
    bytes[36] = 8;
    const std::string tail = "\x02"
                             "evil/\0\0";
    std::copy(tail.begin(), tail.end(), bytes.begin() + 38);
    AddEntry(bytes, {.level = 2, .name = "after.txt"});
    bytes.push_back(0);
    test::WriteFile(dir / "overrun.lzh", bytes);

    const auto l = test::List(dir / "overrun.lzh");
    ASSERT_TRUE(l.result);
    EXPECT_TRUE(l.codes.empty());
    EXPECT_EQ(test::Names(l), (std::vector<std::string>{"inner.txt", "after.txt"}));
}

std::string LeBytes(uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i)
        out += char(value >> (8 * i));
    return out;
}

// Headers as real archivers write them: the name header after others, a
// folder, an Amiga comment after the name, a Unix link, a size above 4 GiB.
TEST_F(LhaReader, FoldersLinksCommentsAndWideSizes) {
    std::vector<uint8_t> bytes;
    AddEntry(
        bytes,
        {.level = 2, .name = "late.txt", .stamp = 0, .extras = {{0x54, LeBytes(1234567890, 4)}}});
    AddEntry(bytes,
             {.level = 1, .method = "-lh0-", .name = std::string("hello.txt\0a comment", 19)});
    AddEntry(bytes, {.level = 2,
                     .method = "-lhd-",
                     .name = "",
                     .directory = "docs/",
                     .packed = 0,
                     .original = 0});
    AddEntry(bytes, {.level = 0, .method = "-lhd-", .name = "old\\", .packed = 0, .original = 0});
    AddEntry(
        bytes,
        {.level = 2, .method = "-lhd-", .name = "link|target.txt", .packed = 0, .original = 0});
    AddEntry(bytes, {.level = 2,
                     .name = "huge.bin",
                     .extras = {{0x42, LeBytes(10, 8) + LeBytes(5'000'000'000, 8)}}});
    bytes.push_back(0);
    test::WriteFile(dir / "mends.lzh", bytes);

    const auto plain = test::List(dir / "mends.lzh");
    ASSERT_TRUE(plain.result);
    EXPECT_EQ(test::Names(plain), (std::vector<std::string>{"late.txt", "hello.txt", "huge.bin"}));
    EXPECT_EQ(plain.readFiles[4], "link"); // the link is read, not listed
    EXPECT_EQ(plain.entries[2].unpacked, 5'000'000'000);
    EXPECT_EQ(plain.entries[2].packed, 10);
    EXPECT_EQ(plain.totalUnpacked, 5'000'000'000 + 20 + 20);

    const auto blank = test::List(dir / "mends.lzh", [](TLorvex& l) { l.SetShowBlankDirs(true); });
    ASSERT_TRUE(blank.result);
    EXPECT_EQ(test::Names(blank),
              (std::vector<std::string>{"late.txt", "hello.txt", "docs\\", "old\\", "huge.bin"}));
    for (const size_t folder : {2u, 3u}) {
        EXPECT_EQ(blank.entries[folder].externalAttr & 0x10, 0x10u) << folder;
        EXPECT_EQ(blank.entries[folder].method, "Dir") << folder;
    }
}

} // namespace
} // namespace dvl
