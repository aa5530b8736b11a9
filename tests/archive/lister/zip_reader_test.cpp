// The ZIP reader on archives made by Info-ZIP zip and by hand: comments,
// folders, the end record's reach, self-extractors, names and failures.
#include "archive/lister/lorvex.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

using test::Bytes;

namespace fs = std::filesystem;
using test::Listing;
using test::Quote;

// Words, so that deflate has something to do.
std::string Text(size_t n) {
    static const char* words[] = {"header ", "volume ", "archive ", "of ", "the\n"};
    std::string out;
    for (uint32_t x = 7; out.size() < n; x = x * 1103515245 + 12345)
        out += words[(x >> 16) % 5];
    out.resize(n);
    return out;
}

class ZipReader : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFile(dir / name, bytes);
        return dir / name;
    }
    test::KeepCurrentDir keep;
    test::TempDir dir;
};

TEST_F(ZipReader, InfoZipArchiveWithCommentsExtraFieldsAndFolders) {
    DVL_REQUIRE_TOOL("zip");
    fs::create_directories(dir / "src" / "sub");
    fs::create_directories(dir / "src" / "empty");
    test::WriteFile(dir / "src" / "a.txt", Text(6000));
    std::vector<uint8_t> noise(3000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 2654435761u >> 13);
    test::WriteFile(dir / "src" / "sub" / "b.bin", noise);
    ASSERT_EQ(test::Run("touch -d '2003-04-05 06:07:08' a.txt sub/b.bin && "
                        "printf 'first comment\\nsecond comment\\n' | zip -q -c ../t.zip a.txt "
                        "sub/b.bin && zip -q ../t.zip empty && "
                        "echo 'said of the archive' | zip -q -z ../t.zip",
                        dir / "src"),
              0);

    Listing out = test::List(dir / "t.zip", [](TLorvex& l) { l.SetShowBlankDirs(true); });
    ASSERT_TRUE(out.result) << ::testing::PrintToString(out.events);
    ASSERT_EQ(test::Names(out), (std::vector<std::string>{"a.txt", "sub\\b.bin", "empty\\"}));
    const auto& a = out.entries[0];
    EXPECT_EQ(a.date, "2003-04-05 06:07:08");
    EXPECT_EQ(a.unpacked, 6000);
    EXPECT_LT(a.packed, 6000);
    EXPECT_EQ(a.crc, test::Crc32(Bytes(Text(6000))));
    EXPECT_EQ(a.method, "DeflateN");
    EXPECT_EQ(a.methodCode, 8);
    EXPECT_EQ(a.offset, 0);
    EXPECT_EQ(a.number, 1);
    EXPECT_EQ(a.ratio, unsigned((6000 - a.packed) * 100 / 6000));
    EXPECT_EQ(a.fileComment, "first comment");
    EXPECT_EQ(a.archiveComment, "said of the archive");
    const auto& b = out.entries[1];
    EXPECT_EQ(b.unpacked, 3000);
    EXPECT_EQ(b.crc, test::Crc32(noise));
    EXPECT_EQ(b.fileComment, "second comment");
    EXPECT_GT(b.offset, 0);
    const auto& folder = out.entries[2];
    EXPECT_EQ(folder.number, 2);
    EXPECT_FALSE(folder.fileComment.has_value());
    EXPECT_EQ(folder.externalAttr & 0x10, 0x10u);
    EXPECT_EQ(out.totals, 2);
    EXPECT_EQ(out.totalUnpacked, 9000);

    // Without ShowBlankDirs the folder's name part is empty and never matches.
    out = test::List(dir / "t.zip");
    EXPECT_EQ(test::Names(out), (std::vector<std::string>{"a.txt", "sub\\b.bin"}));
    EXPECT_EQ(out.readFiles.size(), 3u);
}

TEST_F(ZipReader, DeflateOptionGivesTheMethodNameAndLevel) {
    DVL_REQUIRE_TOOL("zip");
    test::WriteFile(dir / "a.txt", Text(4000));
    const struct {
        const char* option;
        const char* method;
        unsigned level;
    } cases[] = {{"-1", "DeflateF", 4}, {"-6", "DeflateN", 0}, {"-9", "DeflateX", 2}};
    for (const auto& c : cases) {
        ASSERT_EQ(test::Run(std::string("rm -f l.zip && zip -q ") + c.option + " l.zip a.txt",
                            dir.Path()),
                  0);
        Listing out = test::List(dir / "l.zip");
        ASSERT_EQ(out.entries.size(), 1u) << c.option;
        EXPECT_EQ(out.entries[0].method, c.method) << c.option;
        EXPECT_EQ(out.entries[0].deflateLevel, c.level) << c.option;
    }
}

TEST_F(ZipReader, EachFieldOfTheCentralRecord) {
    test::ZipWriter w;
    w.Add({.name = "grew.bin",
           .data = Bytes(std::string(1000, 'x')),
           .packed = Bytes(std::string(1001, 'y')),
           .method = 8,
           .flags = 6});
    w.Add({.name = "barely.bin",
           .data = Bytes(std::string(1000, 'x')),
           .packed = Bytes(std::string(999, 'y')),
           .method = 8});
    w.Add({.name = "locked.txt",
           .data = Bytes("secret"),
           .flags = 1,
           .dosDateTime = 0x3A8B7C21,
           .externalAttr = 0x21,
           .crcOverride = 0x12345678});
    w.Add({.name = "odd.bin", .data = Bytes("?"), .method = 99});
    Listing out = test::List(Write("f.zip", w.Build()));
    ASSERT_EQ(out.entries.size(), 4u);
    EXPECT_EQ(out.entries[0].ratio, 0u);
    EXPECT_EQ(out.entries[0].method, "DeflateS");
    EXPECT_EQ(out.entries[0].deflateLevel, 6u);
    EXPECT_EQ(out.entries[1].ratio, 1u);
    EXPECT_EQ(out.entries[1].deflateLevel, 0u); // reset for every header
    const auto& locked = out.entries[2];
    EXPECT_EQ(locked.encrypted, 1u);
    EXPECT_EQ(locked.crc, 0x12345678u);
    EXPECT_EQ(locked.externalAttr, 0x21u);
    EXPECT_EQ(locked.date, "2009-04-11 15:33:02");
    EXPECT_EQ(locked.method, "Stored");
    EXPECT_EQ(out.entries[3].method, "Unknown");
    EXPECT_EQ(out.totalPacked, 1001 + 999 + 6); // odd.bin has no packed data
}

TEST_F(ZipReader, EndRecordIsFoundWithinTheLast32768Bytes) {
    const struct {
        size_t commentLength;
        bool found;
    } cases[] = {{0, true}, {32745, true}, {32746, false}};
    for (const auto& c : cases) {
        test::ZipWriter w;
        w.Add({.name = "a.txt", .data = Bytes("a")});
        Listing out =
            test::List(Write("c.zip", w.Build({}, false, std::string(c.commentLength, 'c'))));
        EXPECT_EQ(out.result, c.found) << c.commentLength;
        if (c.found) {
            ASSERT_EQ(out.entries.size(), 1u);
            EXPECT_EQ(out.entries[0].archiveComment.value_or("").size(), c.commentLength);
        } else {
            EXPECT_EQ(out.codes, std::vector<int32_t>{25138});
        }
    }
}

TEST_F(ZipReader, FailuresEndTheListingWithTheirCode) {
    test::ZipWriter folders;
    folders.Add({.name = "a/", .externalAttr = 0x10});
    folders.Add({.name = "a/b/", .externalAttr = 0x10});
    test::ZipWriter files;
    files.Add({.name = "a.txt", .data = Bytes("a")});
    files.Add({.name = "b.txt", .data = Bytes("b")});
    auto misplaced = files.Build();
    misplaced[misplaced.size() - 6] ^= 0x01; // the directory offset points elsewhere
    std::vector<uint8_t> noEnd = Bytes("PK\3\4");
    noEnd.resize(400, 'x');

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* spec;
        int32_t code;
    } cases[] = {
        {"no end record", noEnd, "*.*", 25138},
        {"no central record at the offset", misplaced, "*.*", 25138},
        {"only folders", folders.Build(), "*.*", 25108},
        {"only folders, and a comment", folders.Build({}, false, std::string(100, 'c')), "*.*",
         25108},
        {"nothing matches", files.Build(), "*.doc", 25108},
    };
    for (const auto& c : cases) {
        Listing out =
            test::List(Write("bad.zip", c.bytes), [&](TLorvex& l) { l.SetFileSpec(c.spec); });
        EXPECT_FALSE(out.result) << c.what;
        EXPECT_EQ(out.codes, std::vector<int32_t>{c.code}) << c.what;
        EXPECT_FALSE(out.totals.has_value()) << c.what;
        EXPECT_EQ(out.events.back(), "Deactivate") << c.what;
    }
    // Every header was announced before the end.
    Listing out =
        test::List(Write("m.zip", files.Build()), [](TLorvex& l) { l.SetFileSpec("*.doc"); });
    EXPECT_EQ(out.readFiles, (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(ZipReader, NamesOfEveryLengthAndBothCharacterSets) {
    const std::string longName = std::string(200, 'd') + "/" + std::string(99, 'n') + ".txt";
    test::ZipWriter w;
    w.Add({.name = longName, .data = Bytes("long")});
    w.Add({.name = "\xC3\xBC-utf8.txt", .data = Bytes("u"), .flags = 0x800});
    w.Add({.name = "\x81-oem.txt", .data = Bytes("o")}); // 0x81 is u-umlaut in code page 437
    Listing out = test::List(Write("n.zip", w.Build()));
    EXPECT_EQ(test::Names(out), (std::vector<std::string>{
                                    std::string(200, 'd') + "\\" + std::string(99, 'n') + ".txt",
                                    "\xC3\xBC-utf8.txt", "\xC3\xBC-oem.txt"}));
}

TEST_F(ZipReader, SelfExtractorsWithAndWithoutAdjustedOffsets) {
    DVL_REQUIRE_TOOL("zip");
    fs::path pe = dir / "stub.dll";
    if (!test::MakeStringTablePe(pe, {{1, "16384"}})) GTEST_SKIP() << "mingw binutils are absent";
    auto joined = test::ReadFile(pe);
    joined.resize(16384, 0);
    test::WriteFile(dir / "inside.txt", Text(3000));
    test::WriteFile(dir / "second.txt", Text(100));
    ASSERT_EQ(test::Run("zip -q inner.zip inside.txt second.txt", dir.Path()), 0);
    auto zip = test::ReadFile(dir / "inner.zip");
    joined.insert(joined.end(), zip.begin(), zip.end());
    Write("raw.exe", joined);
    Write("adjusted.exe", joined);
    ASSERT_EQ(test::Run("zip -qA adjusted.exe", dir.Path()), 0);

    // Offsets are reported as stored: from the stub's end, or adjusted.
    const struct {
        const char* file;
        int32_t firstOffset;
    } cases[] = {{"raw.exe", 0}, {"adjusted.exe", 16384}};
    for (const auto& c : cases) {
        Listing out = test::List(dir / c.file);
        ASSERT_EQ(test::Names(out), (std::vector<std::string>{"inside.txt", "second.txt"}))
            << c.file;
        EXPECT_EQ(out.entries[0].offset, c.firstOffset) << c.file;
    }
}

TEST_F(ZipReader, ArchiveCommentLastsUntilTheTotals) {
    test::ZipWriter w;
    w.Add({.name = "a.txt", .data = Bytes("a")});
    auto path = Write("c.zip", w.Build({}, false, "kept until the totals"));
    test::KeepCurrentDir keep;
    TLorvex lister(nullptr);
    std::optional<std::string> atTotals;
    lister.OnRead = [](TZipCommon*, int32_t, int32_t) {};
    lister.OnTotals = [&](TZipCommon*, int32_t) {
        if (lister.ArchiveComment) atTotals = *lister.ArchiveComment;
    };
    lister.SetArchiveFile(test::Win(path));
    EXPECT_TRUE(lister.Activate());
    EXPECT_EQ(atTotals, "kept until the totals");
    EXPECT_EQ(lister.ArchiveComment, nullptr);
}

} // namespace
} // namespace dvl
