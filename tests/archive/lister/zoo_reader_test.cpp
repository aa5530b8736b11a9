// The ZOO reader on the peer fixture, compared with lsar, and on hand-built
// archives with directory names, long names, comments and deleted entries.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/archive/lister/peer_listers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class ZooReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

std::vector<test::PeerEntry> AsPeer(const test::Listing& l) {
    std::vector<test::PeerEntry> entries;
    for (const auto& e : l.entries)
        entries.push_back({e.name, e.unpacked, e.date.substr(0, 16), false});
    return entries;
}

struct ZooEntry {
    std::string shortName{}, longName{}, directory{}, comment{};
    uint8_t method = 2;
    bool deleted = false;
    uint8_t type = 2;
};

constexpr uint32_t kTag = 0xFDC4A7DC;

// An archive header, the entries with their variable parts, comments and
// filler data, and the chain's closing entry.
std::vector<uint8_t> BuildZoo(const std::vector<ZooEntry>& entries,
                              const std::string& archiveComment = {}) {
    std::vector<uint8_t> out(20, 0);
    std::memcpy(out.data(), "ZOO 2.10 Archive.\x1A", 18);
    test::PutLe32(out, kTag);
    const size_t firstAt = 42 + archiveComment.size();
    test::PutLe32(out, uint32_t(firstAt));
    test::PutLe32(out, uint32_t(-int32_t(firstAt)));
    out.push_back(2); // version needed
    out.push_back(1);
    out.push_back(1);                                    // header type
    test::PutLe32(out, archiveComment.empty() ? 0 : 42); // comment position
    test::PutLe16(out, uint32_t(archiveComment.size()));
    out.push_back(0);
    out.insert(out.end(), archiveComment.begin(), archiveComment.end());
    for (size_t i = 0; i <= entries.size(); ++i) {
        const bool last = i == entries.size();
        const ZooEntry e = last ? ZooEntry{} : entries[i];
        const size_t at = out.size();
        std::vector<uint8_t> h;
        test::PutLe32(h, kTag);
        h.push_back(e.type);
        h.push_back(e.method);
        test::PutLe32(h, 0);          // next, set below
        test::PutLe32(h, 0);          // data position
        test::PutLe32(h, 0x7C213A8B); // date 2009-04-11, time 15:33:02
        test::PutLe16(h, 0x1234);
        test::PutLe32(h, 100);
        test::PutLe32(h, last ? 0 : 40);
        h.push_back(2);
        h.push_back(1);
        h.push_back(e.deleted);
        h.push_back(0);
        test::PutLe32(h, 0); // comment position, set below
        test::PutLe16(h, uint32_t(e.comment.size()));
        std::string shortName = e.shortName;
        shortName.resize(13, '\0');
        h.insert(h.end(), shortName.begin(), shortName.end());
        const std::string longName = e.longName.empty() ? "" : e.longName + '\0';
        const std::string directory = e.directory.empty() ? "" : e.directory + '\0';
        test::PutLe16(h, uint32_t(longName.size() + directory.size() + 2));
        h.push_back(0x7F);
        test::PutLe16(h, 0);
        h.push_back(uint8_t(longName.size()));
        h.push_back(uint8_t(directory.size()));
        h.insert(h.end(), longName.begin(), longName.end());
        h.insert(h.end(), directory.begin(), directory.end());
        const uint32_t commentAt = uint32_t(at + h.size());
        if (!e.comment.empty()) {
            std::memcpy(&h[32], &commentAt, 4);
            h.insert(h.end(), e.comment.begin(), e.comment.end());
        }
        if (!last) h.resize(h.size() + 40, 'd');
        const uint32_t next = last ? 0 : uint32_t(at + h.size());
        std::memcpy(&h[6], &next, 4);
        out.insert(out.end(), h.begin(), h.end());
    }
    return out;
}

TEST_F(ZooReader, HandBuiltArchive) {
    const auto bytes = BuildZoo(
        {
            {.shortName = "readme.txt", .comment = "first file"},
            {.shortName = "longfi~1.txt",
             .longName = "long file name.txt",
             .directory = "docs/old"},
            {.shortName = "gone.txt", .deleted = true},
            {.shortName = "plain.c", .method = 0},
            {.shortName = "old.bin", .longName = "ignored", .type = 1},
        },
        "archive note");
    test::WriteFile(dir / "built.zoo", bytes);
    const auto l = test::List(dir / "built.zoo");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l),
              (std::vector<std::string>{"readme.txt", "docs\\old\\long file name.txt", "gone.txt",
                                        "plain.c", "old.bin"}));
    // The archive header is no entry: numbers start at 1 and the totals count
    // the listed entries.
    EXPECT_EQ(l.entries[0].number, 1);
    EXPECT_EQ(l.totals, 5);
    EXPECT_EQ(l.entries[0].fileComment, "first file");
    EXPECT_EQ(l.entries[0].archiveComment, "archive note");
    EXPECT_FALSE(l.entries[1].fileComment);
    EXPECT_EQ(l.entries[0].method, "Greatest");
    EXPECT_EQ(l.entries[3].method, "Stored");
    EXPECT_EQ(l.entries[0].date, "2009-04-11 15:33:02");
    EXPECT_EQ(l.entries[0].crc, 0x1234u);
    EXPECT_EQ(l.entries[0].packed, 40);
    EXPECT_EQ(l.entries[0].unpacked, 100);
    EXPECT_EQ(l.entries[0].versionMadeBy, 2);
    EXPECT_EQ(l.entries[0].versionNeeded, 1);
    EXPECT_EQ(l.entries[4].externalAttr, 0x20u);
    EXPECT_EQ(l.entries[4].internalAttr, 0x20u);

    DVL_REQUIRE_TOOL("lsar");
    auto peer = test::LsarEntries(dir / "built.zoo");
    auto mine = AsPeer(l);
    EXPECT_EQ(mine, peer);
}

TEST_F(ZooReader, InconsistentHeaderListsNothing) {
    auto bytes = BuildZoo({{.shortName = "a.txt"}});
    bytes[28] ^= 1;
    test::WriteFile(dir / "bad.zoo", bytes);
    const auto l = test::List(dir / "bad.zoo");
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.entries.empty());
    EXPECT_EQ(l.totals, 0);
    EXPECT_TRUE(l.codes.empty());
}

TEST_F(ZooReader, PeerFixtureMatchesLsar) {
    DVL_REQUIRE_TOOL("lsar");
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const auto l = test::List(peer / "zoo/t.zoo");
    ASSERT_TRUE(l.result);
    EXPECT_EQ(test::Names(l), (std::vector<std::string>{"t.txt", "t2.txt"}));
    const auto want = test::LsarEntries(peer / "zoo/t.zoo");
    ASSERT_EQ(want.size(), 2u);
    EXPECT_EQ(l.entries[0].unpacked, want[0].size);
    EXPECT_EQ(l.entries[1].unpacked, want[1].size);
}

} // namespace
} // namespace dvl
