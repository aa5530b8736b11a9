// The ARJ reader on archives made by arj (also a volume set), on hand-built
// headers of every layout, and on the peer fixtures.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Listing;

// --- hand-built headers -----------------------------------------------------

struct ArjPart {
    std::string name{};
    uint32_t packed = 0, unpacked = 0;
    uint8_t flags = 0;
    uint8_t firstSize = 30; // 30, 34 or 46
    uint8_t fileType = 0;   // 2 for a main header, 3 for a folder
    uint8_t method = 0;
    uint8_t host = 0;
    uint32_t dateTime = 0x3A8B7C21; // 2009-04-11 15:33:02 as a DOS value
    std::string comment{};
};

// A header and its data. An extended file position that the first size does
// not count (old archivers) follows the fixed part.
void AddHeader(std::vector<uint8_t>& out, const ArjPart& p) {
    std::vector<uint8_t> basic = {p.firstSize, 11, 1, p.host, p.flags, p.method, p.fileType, 0};
    test::PutLe32(basic, p.dateTime);
    test::PutLe32(basic, p.packed);
    test::PutLe32(basic, p.unpacked);
    test::PutLe32(basic, 0xC0FFEE00u | p.method); // CRC-32
    test::PutLe16(basic, 0);
    test::PutLe16(basic, 0x20); // access mode
    test::PutLe16(basic, 0);
    basic.resize(std::max<size_t>(basic.size(), p.firstSize), 0);
    if ((p.flags & 8) && p.firstSize == 30) test::PutLe32(basic, 0);
    basic.insert(basic.end(), p.name.begin(), p.name.end());
    basic.push_back(0);
    basic.insert(basic.end(), p.comment.begin(), p.comment.end());
    basic.push_back(0);
    test::PutLe16(out, 0xEA60);
    test::PutLe16(out, uint32_t(basic.size()));
    out.insert(out.end(), basic.begin(), basic.end());
    test::PutLe32(out, 0); // header CRC
    test::PutLe16(out, 0); // extended header size
    if (p.fileType != 2) out.resize(out.size() + p.packed, 'p');
}

std::vector<uint8_t> BuildArj(const ArjPart& main, const std::vector<ArjPart>& files,
                              bool end = true) {
    std::vector<uint8_t> out;
    ArjPart m = main;
    m.fileType = 2;
    AddHeader(out, m);
    for (const auto& f : files)
        AddHeader(out, f);
    if (end) test::PutLe32(out, 0x0000EA60);
    return out;
}

class ArjReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    // Archivers on Unix store times as seconds since 1970, shown in local time.
    test::TimeZone utc{"UTC0"};
};

TEST_F(ArjReader, ArchivesMadeByArj) {
    DVL_REQUIRE_TOOL("arj");
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(i % 17) + " of the text\n";
    fs::create_directory(dir / "sub");
    test::WriteFile(dir / "a.txt", text);
    test::WriteFile(dir / "sub" / "b.txt", std::string("b"));
    test::WriteFile(dir / "note", std::string("what the archive holds\n"));
    ASSERT_EQ(test::Run("touch -d '2001-02-03 04:05:06' a.txt sub/b.txt", dir.Path()), 0);
    const std::vector<uint8_t> bytes(text.begin(), text.end());

    const struct {
        const char* options;
        const char* method;
        unsigned encrypted;
    } cases[] = {{"-m0", "Stored", 0},   {"-m1", "Most", 0},    {"-m2", "2nd Most", 0},
                 {"-m3", "2nd Fast", 0}, {"-m4", "Fastest", 0}, {"-m1 -gsecret", "Most", 1}};
    for (const auto& c : cases) {
        ASSERT_EQ(test::Run(std::string("rm -f t.arj && arj a -y -znote ") + c.options +
                                " t.arj a.txt sub/b.txt >/dev/null",
                            dir.Path()),
                  0);
        Listing out = test::List(dir / "t.arj");
        ASSERT_TRUE(out.result) << c.options;
        ASSERT_EQ(test::Names(out), (std::vector<std::string>{"a.txt", "sub\\b.txt"})) << c.options;
        const auto& a = out.entries[0];
        EXPECT_EQ(a.method, c.method) << c.options;
        EXPECT_EQ(a.encrypted, c.encrypted) << c.options;
        EXPECT_EQ(a.date, "2001-02-03 04:05:06") << c.options;
        EXPECT_EQ(a.unpacked, int64_t(text.size())) << c.options;
        EXPECT_EQ(a.crc, test::Crc32(bytes)) << c.options;
        EXPECT_EQ(a.archiveComment, "what the archive holds\n") << c.options;
        EXPECT_EQ(a.volume, "t.arj") << c.options;
        EXPECT_EQ(out.entries[1].unpacked, 1) << c.options;
        EXPECT_EQ(out.totals, 2) << c.options;
    }
}

class ArjVolumes : public ArjReader {
protected:
    // A file over three volumes and one after it, in the last volume.
    void SetUp() override {
        if (!test::HaveTool("arj")) GTEST_SKIP() << "peer tool arj is absent";
        big_.resize(70000);
        for (size_t i = 0; i < big_.size(); ++i)
            big_[i] = uint8_t(i * 2654435761u >> 11);
        test::WriteFile(dir / "big.bin", big_);
        test::WriteFile(dir / "small.txt", std::string("small"));
        // A dotted base name: the volumes are my.set.a01 and on.
        ASSERT_EQ(
            test::Run("arj a -y -m0 -v30K my.set.arj big.bin small.txt >/dev/null", dir.Path()), 0);
        ASSERT_TRUE(fs::exists(dir / "my.set.a02"));
        ASSERT_FALSE(fs::exists(dir / "my.set.a03"));
    }
    std::vector<uint8_t> big_;
};

TEST_F(ArjVolumes, AFileOverThreeVolumesIsListedOnceWithItsWholeSize) {
    Listing out = test::List(dir / "my.set.arj");
    EXPECT_TRUE(out.result);
    EXPECT_TRUE(out.codes.empty()) << ::testing::PrintToString(out.codes);
    ASSERT_EQ(test::Names(out), (std::vector<std::string>{"big.bin", "small.txt"}));
    EXPECT_EQ(out.readFiles.size(), 2u);
    EXPECT_EQ(out.entries[0].packed, 70000);
    EXPECT_EQ(out.entries[0].unpacked, 70000);
    EXPECT_EQ(out.entries[0].volume, "my.set.arj");
    EXPECT_EQ(out.entries[1].volume, "my.set.A02"); // the name as opened
    EXPECT_EQ(out.entries[1].unpacked, 5);
    EXPECT_EQ(out.totalUnpacked, 70005);
}

TEST_F(ArjVolumes, AMissingVolumeEndsTheSearchForParts) {
    fs::create_directory(dir / "elsewhere");
    fs::rename(dir / "my.set.a02", dir / "elsewhere" / "my.set.a02");
    const std::string elsewhere = test::Win(dir / "elsewhere") + "\\";
    const auto partSize = [&](const char* f) { return int64_t(fs::file_size(dir / f)); };

    Listing out = test::List(dir / "my.set.arj");
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.codes, std::vector<int32_t>{25132});
    // Listed with the parts found; the walk goes on where it was, so nothing
    // after it is found.
    ASSERT_EQ(test::Names(out), std::vector<std::string>{"big.bin"});
    EXPECT_GT(out.entries[0].unpacked, 0);
    EXPECT_LT(out.entries[0].unpacked, partSize("my.set.arj") + partSize("my.set.a01"));
    EXPECT_EQ(out.totals, 1);

    int asked = 0;
    out = test::List(dir / "my.set.arj", [&](TLorvex& l) {
        l.OnNextVolume = [&](TZipCommon*, std::string& d, std::string& fn, const std::string& v,
                             bool&) {
            ++asked;
            EXPECT_EQ(fn, "my.set.A02");
            EXPECT_EQ(v, "2");
            d = elsewhere;
        };
    });
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(out.codes.empty());
    EXPECT_EQ(test::Names(out), (std::vector<std::string>{"big.bin", "small.txt"}));
    EXPECT_EQ(out.entries[0].unpacked, 70000);
}

TEST_F(ArjReader, HeadersOfEveryLayout) {
    auto bytes = BuildArj({.name = "set.arj", .comment = "archive comment"},
                          {
                              {.name = "old.txt", .packed = 3, .unpacked = 9, .method = 1},
                              {.name = "oldpos.txt", .packed = 4, .unpacked = 4, .flags = 8},
                              {.name = "pos.txt",
                               .packed = 5,
                               .unpacked = 5,
                               .flags = 8,
                               .firstSize = 34,
                               .method = 4},
                              {.name = "new.txt",
                               .packed = 6,
                               .unpacked = 6,
                               .firstSize = 46,
                               .comment = "file comment"},
                              {.name = "docs", .firstSize = 46, .fileType = 3, .method = 7},
                              {.name = "unix.txt",
                               .packed = 1,
                               .unpacked = 1,
                               .firstSize = 46,
                               .host = 2,
                               .dateTime = 1000000000},
                          });
    test::WriteFile(dir / "set.arj", bytes);
    Listing out = test::List(dir / "set.arj");
    EXPECT_TRUE(out.result);
    ASSERT_EQ(test::Names(out), (std::vector<std::string>{"old.txt", "oldpos.txt", "pos.txt",
                                                          "new.txt", "docs", "unix.txt"}));
    EXPECT_EQ(out.entries[0].method, "Most");
    EXPECT_EQ(out.entries[0].ratio, 66u);
    EXPECT_EQ(out.entries[0].date, "2009-04-11 15:33:02");
    EXPECT_EQ(out.entries[0].archiveComment, "archive comment");
    EXPECT_EQ(out.entries[2].method, "Fastest");
    EXPECT_EQ(out.entries[3].fileComment, "file comment");
    EXPECT_FALSE(out.entries[2].fileComment.value_or("").size());
    EXPECT_EQ(out.entries[4].method, "Dir");
    EXPECT_EQ(out.entries[5].date, "2001-09-09 01:46:40");
    EXPECT_EQ(out.totals, 6); // folders count as entries here
    // The first header follows the main header's name, comment and trailer.
    EXPECT_EQ(out.entries[0].offset, 4 + 30 + 8 + 16 + 4 + 2);
}

TEST_F(ArjReader, ASetEndsAtItsNineHundredAndNinetyNinthVolume) {
    // Every volume holds one more part of the same file.
    auto volume = [](const std::string& name) {
        return BuildArj({.name = name},
                        {{.name = "endless.bin", .packed = 1, .unpacked = 1, .flags = 4 | 8}});
    };
    test::WriteFile(dir / "base.arj", volume("base.arj"));
    for (int n = 1; n <= 999; ++n) {
        const std::string number = std::to_string(n);
        const std::string name = std::string("base.") +
                                 (n < 10    ? "A0"
                                  : n < 100 ? "A"
                                            : "") +
                                 number;
        test::WriteFile(dir / name, volume(name));
    }
    Listing out = test::List(dir / "base.arj");
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.codes, std::vector<int32_t>{25135});
    EXPECT_TRUE(out.entries.empty());
    EXPECT_EQ(out.events.back(), "Deactivate");
}

TEST_F(ArjReader, PeerVolumeSetListsLikeTheSameFilesInOneArchive) {
    auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    Listing split = test::List(peer / "arj" / "Arj.store.split.arj");
    Listing whole = test::List(peer / "arj" / "Arj.store.arj");
    EXPECT_TRUE(split.codes.empty());
    ASSERT_EQ(test::Names(split), (std::vector<std::string>{"EXE\\TEST.EXE", "JPG\\TEST.JPG", "EXE",
                                                            "JPG", "TECT.TXT"}));
    for (const auto& w : whole.entries) {
        auto it = std::find_if(split.entries.begin(), split.entries.end(),
                               [&](const auto& s) { return s.name == w.name; });
        ASSERT_NE(it, split.entries.end()) << w.name;
        EXPECT_EQ(it->unpacked, w.unpacked) << w.name;
        EXPECT_EQ(it->packed, w.packed) << w.name;
        EXPECT_EQ(it->date, w.date) << w.name;
    }
    EXPECT_EQ(split.entries.back().volume, "Arj.store.split.A04"); // where it begins
}

} // namespace
} // namespace dvl
