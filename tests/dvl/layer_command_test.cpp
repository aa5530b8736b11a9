// dvl x, t and l on the formats of the extraction layer, made by the real
// tools at test time: every tree extracted equals what the tools themselves
// extract, byte for byte and with its dates.
#include "tests/dvl/file_tree.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;
using test::Quote;

using test::FileState;

class DvlLayer : public ::testing::Test {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("tar");
        fs::create_directories(src_ / "sub");
        test::WriteFile(src_ / "a.txt", std::string("alpha\n"));
        test::WriteFile(src_ / "sub" / "big.txt", test::BigText());
        const std::string longName(120, 'n');
        test::WriteFile(src_ / "sub" / longName, std::string("a long name"));
        fs::create_directories(src_ / "empty");
        test::WriteFile(src_ / "ro.txt", std::string("read-only"));
        fs::permissions(src_ / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
        test::Run("touch -d '2001-02-03 04:05:06' a.txt sub/big.txt ro.txt empty", src_);
    }

    std::string Dvl(const std::string& args, int* status = nullptr) {
        return test::DvlIn(dir_.Path(), args, status);
    }

    // The tree the peer gives for an archive, beside the one dvl gives; dates
    // are compared unless the archive stores none.
    void ExpectSameTree(const std::string& archive, const std::string& peerCommand,
                        const std::string& expectedRows = "", bool dates = true) {
        fs::remove_all(dir_ / "peer");
        fs::remove_all(dir_ / "ours");
        fs::create_directories(dir_ / "peer");
        ASSERT_EQ(test::Run(peerCommand + " >/dev/null 2>&1", dir_ / "peer"), 0) << peerCommand;
        int status = -1;
        const std::string out = Dvl("x -o ours " + Quote(archive), &status);
        EXPECT_EQ(out, expectedRows) << archive;
        EXPECT_EQ(status, expectedRows.empty() ? 0 : 1) << out;
        EXPECT_EQ(test::FileTree(dir_ / "ours", dates), test::FileTree(dir_ / "peer", dates))
            << archive;
        EXPECT_EQ(Dvl("t " + Quote(archive), &status), archive + ": ok\n");
        EXPECT_EQ(status, 0);
    }

    test::TempDir dir_;
    fs::path src_ = dir_ / "src";
};

TEST_F(DvlLayer, TarInEveryFormatExtractsAsTarDoes) {
    const std::string longName(120, 'n');
    fs::create_symlink("a.txt", src_ / "link.txt");
    fs::create_hard_link(src_ / "a.txt", src_ / "sub" / "hard.txt");
    for (const char* format : {"v7", "ustar", "gnu", "oldgnu", "posix"}) {
        SCOPED_TRACE(format);
        const std::string archive = std::string(format) + ".tar";
        // v7 and ustar cannot hold the long name: those archives leave it out.
        const bool shortNames = std::string(format) == "v7" || std::string(format) == "ustar";
        const std::string members = shortNames ? "a.txt sub/big.txt sub/hard.txt empty ro.txt "
                                                 "link.txt"
                                               : ".";
        ASSERT_EQ(
            test::Run("tar --format=" + std::string(format) + " -cf ../" + archive + " " + members,
                      src_),
            0);
        ExpectSameTree(archive, "tar -xf ../" + archive + " --exclude=link.txt",
                       "26912 Not written: a symbolic link (link.txt)\n");
        EXPECT_TRUE(fs::is_directory(dir_ / "ours" / "empty")); // empty folders too
        EXPECT_FALSE(fs::exists(dir_ / "ours" / "link.txt"));
        EXPECT_EQ(fs::status(dir_ / "ours" / "ro.txt").permissions() & fs::perms::owner_write,
                  fs::perms::none);
    }
}

// Sparse members in the old GNU form and the three pax forms: their real
// names, sizes and holes; the member after them stays whole.
TEST_F(DvlLayer, SparseFilesInEveryForm) {
    fs::remove_all(src_);
    fs::create_directories(src_);
    ASSERT_EQ(
        test::Run("printf begin > sparse.bin && truncate -s 3M sparse.bin && "
                  "printf middle | dd of=sparse.bin bs=1 seek=1500000 conv=notrunc 2>/dev/null && "
                  "printf end >> sparse.bin && echo after > after.txt",
                  src_),
        0);
    const std::pair<const char*, const char*> forms[] = {
        {"gnu", ""},
        {"posix", "--sparse-version=0.0"},
        {"posix", "--sparse-version=0.1"},
        {"posix", "--sparse-version=1.0"},
    };
    for (const auto& [format, version] : forms) {
        SCOPED_TRACE(std::string(format) + " " + version);
        ASSERT_EQ(test::Run(std::string("tar --sparse --format=") + format + " " + version +
                                " -cf ../sparse.tar sparse.bin after.txt",
                            src_),
                  0);
        ExpectSameTree("sparse.tar", "tar -xf ../sparse.tar");
        int status = -1;
        const std::string listed = Dvl("l --tsv sparse.tar", &status);
        EXPECT_EQ(status, 0) << listed;
        EXPECT_NE(listed.find("sparse.bin\t"), std::string::npos) << listed;
        EXPECT_NE(listed.find("\t3145731\t"), std::string::npos) << listed; // the real size
        EXPECT_NE(listed.find("after.txt\t"), std::string::npos) << listed;
    }
}

// A TAR whose first name happens to look like an LZMA-alone header (a
// properties byte, a plausible dictionary, a zero at byte 12) is a TAR.
TEST_F(DvlLayer, ATarIsNeverTakenForAnotherFormat) {
    test::WriteFile(src_ / "20230101.log", std::string("log"));
    ASSERT_EQ(test::Run("tar -cf ../dated.tar 20230101.log a.txt", src_), 0);
    ExpectSameTree("dated.tar", "tar -xf ../dated.tar");
}

TEST_F(DvlLayer, CompressedTarsAreTheirTar) {
    const std::pair<const char*, const char*> kinds[] = {
        {"-z", "tgz"}, {"-j", "tar.bz2"}, {"-J", "tar.xz"}, {"--zstd", "tar.zst"}, {"-Z", "tar.Z"},
    };
    for (const auto& [flag, suffix] : kinds) {
        SCOPED_TRACE(suffix);
        const std::string archive = std::string("t.") + suffix;
        ASSERT_EQ(test::Run("tar " + std::string(flag) + " -cf ../" + archive + " .", src_), 0);
        ExpectSameTree(archive, "tar " + std::string(flag) + " -xf ../" + archive);
        int status = -1;
        const std::string listed = Dvl("l --tsv " + archive, &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(listed.find("sub\\big.txt\t"), std::string::npos) << listed;
    }
}

TEST_F(DvlLayer, SingleFileCompressors) {
    const struct {
        const char* make;
        const char* archive;
        const char* name; // of the one entry
    } cases[] = {
        {"gzip -c -N ../src/sub/big.txt > big.gz", "big.gz", "big.txt"},
        {"gzip -c ../src/a.txt > a.gz && gzip -c ../src/ro.txt >> a.gz", "a.gz", "a.txt"},
        {"bzip2 -c ../src/sub/big.txt > big.bz2", "big.bz2", "big"},
        {"xz -c ../src/sub/big.txt > big.xz", "big.xz", "big"},
        {"xz --format=lzma -c ../src/sub/big.txt > big.lzma", "big.lzma", "big"},
        {"zstd -q -c ../src/sub/big.txt > big.zst", "big.zst", "big"},
        {"compress -c ../src/sub/big.txt > big.Z", "big.Z", "big"},
    };
    fs::create_directories(dir_ / "made");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        ASSERT_EQ(test::Run(c.make, dir_ / "made"), 0);
        fs::remove_all(dir_ / "ours");
        int status = -1;
        const std::string out = Dvl("x -o ours made/" + std::string(c.archive), &status);
        EXPECT_EQ(status, 0) << out;
        const std::string expected =
            std::string(c.archive) == "a.gz"
                ? test::ReadText(src_ / "a.txt") + test::ReadText(src_ / "ro.txt")
                : test::ReadText(src_ / "sub" / "big.txt");
        EXPECT_EQ(test::ReadText(dir_ / "ours" / c.name), expected);
    }
}

TEST_F(DvlLayer, EncodedText) {
    DVL_REQUIRE_TOOL("uuencode");
    ASSERT_EQ(test::Run("(echo 'From: someone'; echo; uuencode sub/big.txt big.txt; "
                        "uuencode -m a.txt a64.txt) > ../mail.uue",
                        src_),
              0);
    int status = -1;
    const std::string out = Dvl("x -o ours mail.uue", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(test::ReadText(dir_ / "ours" / "big.txt"), test::ReadText(src_ / "sub" / "big.txt"));
    EXPECT_EQ(test::ReadText(dir_ / "ours" / "a64.txt"), "alpha\n");

    // XXE, by hand: "a" is "-ME++" in its alphabet.
    test::WriteFile(dir_ / "x.xxe", std::string(240, '#') + "\nbegin 600 x.txt\n-ME++\n+\nend\n");
    EXPECT_EQ(Dvl("x -o ours x.xxe", &status), "");
    EXPECT_EQ(test::ReadText(dir_ / "ours" / "x.txt"), "a");
}

TEST_F(DvlLayer, CabinetsExtractAsCabextractDoes) {
    DVL_REQUIRE_TOOL("gcab");
    DVL_REQUIRE_TOOL("cabextract");
    ASSERT_EQ(test::Run("gcab -c -z ../mszip.cab a.txt sub/big.txt ro.txt && "
                        "gcab -c ../stored.cab a.txt sub/big.txt",
                        src_),
              0);
    for (const char* cab : {"mszip.cab", "stored.cab"}) {
        SCOPED_TRACE(cab);
        ExpectSameTree(cab, std::string("cabextract -q ../") + cab);
    }
    const fs::path fixtures = test::PeerFixtures() / "cab";
    if (!fs::exists(fixtures)) GTEST_SKIP() << "peer fixtures are absent";
    for (const char* name : {"test_read_format_cab_1.cab", "test_read_format_cab_2.cab",
                             "test_read_format_cab_3.cab", "test_read_format_cab_multi.p1.cab",
                             "t.cab", "lzx21-large-files.cab", "cve-2010-2801-qtm-flush.cab"}) {
        SCOPED_TRACE(name);
        if (!fs::exists(fixtures / name)) continue;
        ExpectSameTree((fixtures / name).string(), "cabextract -q " + Quote(fixtures / name));
    }
    // Damaged on purpose (a block beyond the size limit, an endless Quantum
    // stream, LZX matches before any output, an empty main tree): an error.
    for (const char* name : {"qtm-max-size-block.cab", "cve-2014-9556-qtm-infinite-loop.cab",
                             "lzx-premature-matches.cab", "lzx-main-tree-no-lengths.cab"}) {
        SCOPED_TRACE(name);
        int status = -1;
        const std::string out = Dvl("t " + Quote(fixtures / name), &status);
        EXPECT_EQ(status, 1) << out;
    }
}

// Archives other tools made, from the peer fixtures: the trees and streams
// their own tools give.
TEST_F(DvlLayer, PeerFixturesExtractAsTheirToolsDo) {
    const fs::path fixtures = test::PeerFixtures();
    if (!fs::exists(fixtures / "tar")) GTEST_SKIP() << "peer fixtures are absent";
    std::string linkName;
    for (int i = 0; i < 20; ++i)
        linkName += "abcdefghij";
    const std::pair<const char*, std::string> tars[] = {
        {"tar/t.tar", ""},
        {"tar/test_compat_gtar_1.tar", "26912 Not written: a symbolic link (" + linkName + ")\n"},
        {"tar/test_read_format_tar_empty_with_gnulabel.tar", ""},
        {"gzip/test_compat_gzip_1.tgz", ""},
        {"compress/bla.tar.Z", ""},
    };
    for (const auto& [name, rows] : tars) {
        SCOPED_TRACE(name);
        ExpectSameTree((fixtures / name).string(), "tar -xf " + Quote(fixtures / name), rows);
    }
    for (const char* name :
         {"gzip/bgziptest.txt.gz", "gzip/lorem-ipsum.txt.gz", "gzip/multiple.gz", "gzip/t.txt.gz",
          "gzip/test_read_format_raw.data.gz", "compress/t.txt.Z",
          "compress/test_read_format_raw.data.Z", "pack/test.z"}) {
        SCOPED_TRACE(name);
        fs::remove_all(dir_ / "ours");
        int status = -1;
        const std::string out = Dvl("x -o ours " + Quote(fixtures / name), &status);
        EXPECT_EQ(status, 0) << out;
        std::vector<fs::path> written;
        for (const auto& e : fs::directory_iterator(dir_ / "ours"))
            written.push_back(e.path());
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(test::ReadFile(written[0]), test::GzipDecode(test::ReadFile(fixtures / name)));
    }
    // (Encoded text is found by its extension only above 200 bytes.)
    for (const char* name : {"uue/test_read_format_lha_header0.lzh.uu",
                             "uue/test_read_format_zip_comment_stored_1.zip.uu"}) {
        SCOPED_TRACE(name);
        ExpectSameTree((fixtures / name).string(), "uudecode " + Quote(fixtures / name), "", false);
    }
}

// Damaged copies: an error row and exit status 1, never a crash, a hang or
// an "ok"; nothing is left that looks complete.
TEST_F(DvlLayer, DamageIsReportedNeverPassed) {
    ASSERT_EQ(test::Run("tar -czf ../t.tgz . && gcab -c -z ../t.cab a.txt sub/big.txt", src_), 0);
    for (const char* name : {"t.tgz", "t.cab"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> whole = test::ReadFile(dir_ / name);
        for (int round = 0; round < 12; ++round) {
            std::vector<uint8_t> bytes = whole;
            if (round % 2 == 0) {
                bytes.resize(bytes.size() * size_t(round + 1) / 13);
            } else {
                bytes[bytes.size() / 3 + size_t(round) * 97 % (bytes.size() / 2)] ^= 0x5A;
            }
            test::WriteFile(dir_ / ("bad" + std::string(name).substr(1)), bytes);
            int status = -1;
            const std::string out = Dvl("t bad" + std::string(name).substr(1), &status);
            EXPECT_NE(status, 0) << round << ": " << out;
            EXPECT_EQ(out.find(": ok"), std::string::npos) << round;
        }
    }
}

// A stream without a stored size may not expand beyond the ratio limit,
// unless --no-limit says so.
TEST_F(DvlLayer, RatioLimitStopsBombs) {
    ASSERT_EQ(test::Run("head -c 100000000 /dev/zero | bzip2 -9 > zeros.bz2", dir_.Path()), 0);
    int status = -1;
    std::string out = Dvl("x -o ours zeros.bz2", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "26918 Not extracted: it expands beyond the ratio limit (zeros)\n");
    EXPECT_FALSE(fs::exists(dir_ / "ours" / "zeros"));
    out = Dvl("x -o ours --no-limit zeros.bz2", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(fs::file_size(dir_ / "ours" / "zeros"), 100000000u);
}

} // namespace
} // namespace dvl
