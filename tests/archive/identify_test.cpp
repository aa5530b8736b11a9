// Detection on real files: archives made by real tools, self-extractors made
// by joining a linked PE and an archive, and hand-made headers for the rest.
#include "archive/zip_common.h"
#include "platform/paths.h"
#include "tests/support/lha_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

class Identify : public ::testing::Test {
protected:
    void SetUp() override { saved_ = fs::current_path(); }
    void TearDown() override { fs::current_path(saved_); }

    // Detects a file the way the components do, with the front end's
    // ZipCmntBufSize unless a test sets another.
    TArcType Detect(const fs::path& file, int32_t commentBuffer = 2000) {
        component.SetZipCmntBufSize(commentBuffer);
        component.SetArchiveFile(platform::ToWindowsPath(file.string()));
        return component.ArcType();
    }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFile(dir / name, bytes);
        return dir / name;
    }

    // A zip archive of one small text file, made by Info-ZIP zip.
    fs::path MakeZip(const std::string& name, const std::string& extraArgs = "") {
        test::WriteFile(dir / "hello.txt", std::string("hello, archive\n"));
        EXPECT_EQ(test::Run("zip -q -X " + extraArgs + " " + Quote(dir / name) + " hello.txt",
                            dir.Path()),
                  0);
        return dir / name;
    }

    // A linked PE stub, padded to the given size, with the string table given.
    std::vector<uint8_t> MakeStub(const std::vector<std::pair<int, std::string>>& strings,
                                  size_t paddedSize) {
        fs::path pe = dir / "stub.dll";
        if (!test::MakeStringTablePe(pe, strings)) return {};
        auto bytes = test::ReadFile(pe);
        if (bytes.size() < paddedSize) bytes.resize(paddedSize, 0);
        return bytes;
    }

    test::TempDir dir;
    TZipCommon component{nullptr};

private:
    fs::path saved_;
};

TEST_F(Identify, EmptyMissingAndShortFiles) {
    component.SetArchiveFile("");
    EXPECT_EQ(component.ArcType(), atNA);
    EXPECT_EQ(Detect(dir / "missing.zip"), atFileError);
    for (size_t n = 0; n < 6; ++n)
        EXPECT_EQ(Detect(Write("short" + std::to_string(n), std::vector<uint8_t>(n, 'P'))),
                  atFileError)
            << n;
    EXPECT_EQ(Detect(Write("six", {'P', 'K', 3, 4, 0, 0})), atZIP);
    EXPECT_EQ(component.StartOffset(), 1);
    EXPECT_EQ(component.ArchiveSize(), 6);
}

TEST_F(Identify, ArchivesMadeByRealTools) {
    test::WriteFile(dir / "a.txt", std::string(3000, 'a') + "tail\n");
    struct ToolCase {
        const char* tool;
        const char* name;
        const char* command;
        TArcType expected;
    } cases[] = {
        {"zip", "z.zip", "zip -q z.zip a.txt", atZIP},
        {"7zz", "z7.zip", "7zz a -tzip -bd z7.zip a.txt >/dev/null", atZIP},
        {"gcab", "c.cab", "gcab -c c.cab a.txt", atCAB},
        {"arj", "j.arj", "arj a j.arj a.txt >/dev/null", atARJ},
        {"lha", "l.lzh", "lha -aq l.lzh a.txt", atLHA},
        {"rar", "r.rar", "rar a -inul r.rar a.txt", atRAR},
        {"rar", "r5.rar", "rar a -ma5 -inul r5.rar a.txt", atRAR},
        {"gzip", "a.txt.gz", "gzip -kn a.txt", atGZip},
        {"compress", "b.txt.Z", "cp a.txt b.txt && compress -f b.txt", atGZip},
        {"tar", "t.tar", "tar cf t.tar a.txt", atTAR},
        {"tar", "t.t", "tar cf t.t a.txt", atTAR},
        {"tar", "t.TaR", "tar cf t.TaR a.txt", atTAR},
        {"uuencode", "u.uue", "uuencode a.txt a.txt > u.uue", atUUE},
        {"uuencode", "u.xxe", "uuencode a.txt a.txt > u.xxe", atUUE},
        {"uuencode", "u.", "uuencode a.txt a.txt > u.", atUUE},
        {"uuencode", "u.txt", "uuencode a.txt a.txt > u.txt", atUnknown},
    };
    for (const auto& c : cases) {
        if (!test::HaveTool(c.tool)) {
            ADD_FAILURE() << "peer tool " << c.tool << " is absent";
            continue;
        }
        ASSERT_EQ(test::Run(c.command, dir.Path()), 0) << c.command;
        EXPECT_EQ(Detect(dir / c.name), c.expected) << c.name;
        if (c.expected == atTAR) {
            EXPECT_EQ(component.StartOffset(), 1);
        }
    }
}

// A TAR is known by its first header's checksum, whatever its name or its
// first member's name starts with; a volume label is such a header too.
TEST_F(Identify, TarIsKnownByItsFirstHeader) {
    DVL_REQUIRE_TOOL("tar");
    test::WriteFile(dir / "a.txt", std::string("x\n"));
    test::WriteFile(dir / "Rar.txt", std::string("looks like a RAR signature\n"));
    ASSERT_EQ(test::Run("tar -cf v.tar -V LABEL a.txt && tar -cf ra.data Rar.txt", dir.Path()), 0);
    EXPECT_EQ(Detect(dir / "v.tar"), atTAR);
    EXPECT_EQ(component.StartOffset(), 1);
    EXPECT_EQ(Detect(dir / "ra.data"), atTAR);

    // Neither the label's checksum nor the next header's holds: not a tar.
    auto bytes = test::ReadFile(dir / "v.tar");
    bytes[10] ^= 0x55;
    bytes[512 + 10] ^= 0x55;
    EXPECT_EQ(Detect(Write("bad.tar", bytes)), atUnknown);
}

TEST_F(Identify, UuencodedTextNeedsMoreThan200BytesAndALowerCaseBegin) {
    const std::string line = "begin 644 x\nM86)C9&5F\n`\nend\n";
    std::string text150 = "Some mail header\n" + line;
    text150.resize(150, '\n');
    EXPECT_EQ(Detect(Write("m.uue", std::vector<uint8_t>(text150.begin(), text150.end()))),
              atUnknown);
    std::string text300 = text150;
    text300.resize(300, '\n');
    EXPECT_EQ(Detect(Write("m.uue", std::vector<uint8_t>(text300.begin(), text300.end()))), atUUE);
    std::string upper = text300;
    upper.replace(upper.find("begin"), 5, "BEGIN");
    EXPECT_EQ(Detect(Write("m.enc", std::vector<uint8_t>(upper.begin(), upper.end()))), atUnknown);
    // "begin" in the middle of a line, or beyond the first 800 bytes, is not enough.
    std::string mid = std::string(300, 'x') + " begin 644 x\n";
    EXPECT_EQ(Detect(Write("n.uue", std::vector<uint8_t>(mid.begin(), mid.end()))), atUnknown);
    std::string late = std::string(798, '\n') + "begin 644 x\n";
    EXPECT_EQ(Detect(Write("o.uue", std::vector<uint8_t>(late.begin(), late.end()))), atUnknown);
}

TEST_F(Identify, PkFollowedBy47_34IsUnknown) {
    EXPECT_EQ(Detect(Write("g.zip", {'P', 'K', 0x47, 0x34, 1, 2, 3, 4})), atUnknown);
}

TEST_F(Identify, SelfExtractorFoundThroughStringResource) {
    DVL_REQUIRE_TOOL("zip");
    auto stub = MakeStub({{1, "12345"}}, 12345);
    if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
    ASSERT_EQ(stub.size(), 12345u);
    auto zip = test::ReadFile(MakeZip("plain.zip"));
    stub.insert(stub.end(), zip.begin(), zip.end());
    EXPECT_EQ(Detect(Write("sfx.exe", stub)), atZipExe);
    EXPECT_EQ(TZipCommon::SfxBase(), 12345);
    EXPECT_EQ(component.StartOffset(), 12346);
    EXPECT_EQ(component.ArchiveSize(), int32_t(stub.size()));
}

TEST_F(Identify, StringResourceZeroProbesTheStubItselfAndGoesOn) {
    DVL_REQUIRE_TOOL("zip");
    auto stub = MakeStub({{1, "0"}, {2, "20000"}}, 20000);
    if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
    auto zip = test::ReadFile(MakeZip("plain.zip"));
    stub.insert(stub.end(), zip.begin(), zip.end());
    EXPECT_EQ(Detect(Write("sfx.exe", stub)), atZipExe);
    EXPECT_EQ(TZipCommon::SfxBase(), 20000);
    EXPECT_EQ(component.StartOffset(), 20001);
}

TEST_F(Identify, CabinetInsideAnExecutableIsNotAvailable) {
    auto stub = MakeStub({{1, "9000"}, {2, "9000"}}, 9000);
    if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
    const char cab[] = "MSCF\0\0\0\0 rest of a cabinet";
    stub.insert(stub.end(), cab, cab + sizeof cab);
    EXPECT_EQ(Detect(Write("cab.exe", stub)), atNA);
    EXPECT_EQ(component.StartOffset(), 9001);
    EXPECT_EQ(TZipCommon::SfxBase(), 0);
}

TEST_F(Identify, NonNumericOrOutOfRangeResourcesEndTheProbe) {
    DVL_REQUIRE_TOOL("zip");
    auto zip = test::ReadFile(MakeZip("plain.zip"));
    for (auto strings : std::vector<std::vector<std::pair<int, std::string>>>{
             {{1, "abc"}, {2, "8000"}}, {{1, "99999"}, {2, "8000"}}}) {
        auto stub = MakeStub(strings, 8000);
        if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
        stub.insert(stub.end(), zip.begin(), zip.end());
        // Not found through the resources; the tail scan then reads the
        // unadjusted directory offset, which does not lead to a central header.
        EXPECT_EQ(Detect(Write("x.exe", stub)), atUnknown) << strings[0].second;
        EXPECT_EQ(TZipCommon::SfxBase(), 0);
    }
}

TEST_F(Identify, SelfExtractorWithAdjustedOffsetsFoundByTheTailScan) {
    DVL_REQUIRE_TOOL("zip");
    auto stub = MakeStub({{7, "not a probe"}}, 0);
    if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
    auto zip = test::ReadFile(MakeZip("plain.zip"));
    auto joined = stub;
    joined.insert(joined.end(), zip.begin(), zip.end());
    fs::path exe = Write("sfx.exe", joined);
    ASSERT_EQ(test::Run("zip -qA sfx.exe", dir.Path()), 0);
    EXPECT_EQ(Detect(exe), atZipExe);
    EXPECT_EQ(component.StartOffset(), int32_t(stub.size())); // zero-based, as stored
    EXPECT_EQ(TZipCommon::SfxBase(), 0);

    // Without zip -A the stored offsets miss the stub and the scan finds nothing.
    EXPECT_EQ(Detect(Write("raw.exe", joined)), atUnknown);
}

// The length of a zip file's archive comment, from its end record.
size_t CommentLength(const std::vector<uint8_t>& zip) {
    for (size_t p = zip.size() - 22 + 1; p-- > 0;)
        if (zip[p] == 'P' && zip[p + 1] == 'K' && zip[p + 2] == 5 && zip[p + 3] == 6)
            return zip[p + 20] | zip[p + 21] << 8;
    return SIZE_MAX;
}

TEST_F(Identify, TailScanReachesCommentsUpToTheBufferSize) {
    DVL_REQUIRE_TOOL("zip");
    auto stub = MakeStub({{7, "x"}}, 0);
    if (stub.empty()) GTEST_SKIP() << "mingw binutils are absent";
    auto makeSfx = [&](const std::string& name, int comment) {
        fs::path zipPath = MakeZip(name + ".zip");
        if (comment > 0) {
            test::WriteFile(dir / "comment.txt", std::string(size_t(comment), 'c'));
            EXPECT_EQ(test::Run("zip -qz " + Quote(zipPath) + " < comment.txt", dir.Path()), 0);
        }
        auto joined = stub;
        auto zip = test::ReadFile(zipPath);
        joined.insert(joined.end(), zip.begin(), zip.end());
        Write(name + ".exe", joined);
        EXPECT_EQ(test::Run("zip -qA " + Quote(dir / (name + ".exe")), dir.Path()), 0);
        return CommentLength(zip);
    };
    bool sawFound = false, sawMissed = false;
    for (int wanted : {1900, 1999, 2000, 2001, 2002, 3000}) {
        std::string name = "c" + std::to_string(wanted);
        size_t actual = makeSfx(name, wanted);
        bool found = actual <= 2000;
        (found ? sawFound : sawMissed) = true;
        EXPECT_EQ(Detect(dir / (name + ".exe")), found ? atZipExe : atUnknown) << actual;
    }
    EXPECT_TRUE(sawFound && sawMissed);

    // A component whose buffer size was never set finds only an archive
    // without a comment.
    makeSfx("bare", 0);
    TZipCommon unset(nullptr);
    unset.SetArchiveFile(platform::ToWindowsPath((dir / "bare.exe").string()));
    EXPECT_EQ(unset.ArcType(), atZipExe);
    unset.SetArchiveFile(platform::ToWindowsPath((dir / "c1900.exe").string()));
    EXPECT_EQ(unset.ArcType(), atUnknown);
}

// Builds an MZ header whose DOS image ends at `end` and puts `archive` there.
std::vector<uint8_t> DosProgramWith(size_t end, const std::vector<uint8_t>& archive) {
    std::vector<uint8_t> bytes(end, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    size_t pages = (end + 511) / 512, last = end % 512;
    bytes[2] = uint8_t(last), bytes[3] = uint8_t(last >> 8);
    bytes[4] = uint8_t(pages), bytes[5] = uint8_t(pages >> 8);
    bytes.insert(bytes.end(), archive.begin(), archive.end());
    bytes.resize(bytes.size() + 64, 0);
    return bytes;
}

TEST_F(Identify, ArchiveAtTheEndOfTheDosImage) {
    const struct {
        std::vector<uint8_t> archive;
        TArcType expected;
        int32_t startOffset;
    } cases[] = {
        {{0x60, 0xEA, 1, 2}, atArjExe, 1001},
        {{0, 0, 0x60, 0xEA, 1, 2}, atArjExe, 1003}, // two bytes before the ARJ header
        {{0x20, 0x1C, '-', 'l', 'h', '5', '-'}, atLhaExe, 1001},
        {{'R', 'a', 'r', '!'}, atRarExe, 1001},
        {{'P', 'K', 3, 4}, atZipExe, 1001},
        {{0x1A, 0x08, 0, 0}, atArcExe, 1001},
        {{0x1F, 0x8B, 8, 0}, atNA, 1001},
        {{'H', 'A', 0, 0}, atNA, 1001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Detect(Write("dos.exe", DosProgramWith(1000, c.archive))), c.expected)
            << int(c.archive[0]);
        EXPECT_EQ(component.StartOffset(), c.startOffset) << int(c.archive[0]);
    }
    // 512 bytes in the last page count as given (no special case for 0).
    auto bytes = DosProgramWith(1024, {0x60, 0xEA, 0, 0});
    bytes[2] = 0, bytes[3] = 0, bytes[4] = 3;
    EXPECT_EQ(Detect(Write("dos0.exe", bytes)), atArjExe);
    EXPECT_EQ(component.StartOffset(), 1025);
}

TEST_F(Identify, PeerSelfExtractors) {
    fs::path peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const std::pair<const char*, int32_t> cases[] = {
        {"lha213_sfx.exe", 1637},                     // where the DOS image ends
        {"lharc113_sfx.com", 1264},                   // a .COM stub
        {"lhmelt_16536_sfx_winsfx32_213.exe", 31745}, // a Windows stub
    };
    for (const auto& [name, offset] : cases) {
        EXPECT_EQ(Detect(peer / "lha" / name), atLhaExe) << name;
        EXPECT_EQ(component.StartOffset(), offset) << name;
    }
}

// LHA further into a program: the first header that holds whole is taken;
// text that only looks like a method id is not.
TEST_F(Identify, LhaHeaderFoundInsideAProgram) {
    const std::vector<uint8_t> archive =
        test::LhaArchive({{.name = "a.txt", .data = "a", .level = 1}});
    std::vector<uint8_t> lookalike = archive;
    lookalike[1] ^= 0x40; // its checksum
    const auto program = [](uint8_t first, const std::vector<uint8_t>& tail) {
        std::vector<uint8_t> bytes(3000, 0x90);
        bytes[0] = first;
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    };
    const struct {
        std::vector<uint8_t> bytes;
        TArcType expected;
    } cases[] = {
        {program(0xEB, archive), atLhaExe},
        {program(0xE9, archive), atLhaExe},
        {program(0xEB, lookalike), atUnknown},
        {program(0x00, archive), atUnknown}, // not a program
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Detect(Write("sfx.com", c.bytes)), c.expected) << int(c.bytes[0]);
        if (c.expected == atLhaExe) {
            EXPECT_EQ(component.StartOffset(), 3001);
        }
    }
}

} // namespace
} // namespace dvl
