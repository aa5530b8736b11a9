// dvl x and dvl t, run as a user runs them.
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

using test::Bytes;

namespace fs = std::filesystem;
using test::Quote;

const std::string& kDvl = test::DvlProgram();

class DvlExtract : public ::testing::Test {
protected:
    // Runs dvl in the temporary folder; returns stdout and stderr together.
    std::string Dvl(const std::string& args, int* status) {
        return test::RunAndCapture("cd " + Quote(dir.Path()) + " && " + kDvl + " " + args + " 2>&1",
                                   status);
    }

    test::TempDir dir;
};

TEST_F(DvlExtract, ExtractsIntoTheGivenFolderWithPasswordsAndSpec) {
    DVL_REQUIRE_TOOL("zip");
    fs::create_directories(dir / "src" / "sub");
    test::WriteFile(dir / "src" / "a.txt", std::string(5000, 'a'));
    test::WriteFile(dir / "src" / "sub" / "b.dat", std::string(70000, 'b'));
    ASSERT_EQ(test::Run("zip -q -r -P pw ../p.zip .", dir / "src"), 0);

    int status = -1;
    std::string out = Dvl("x -o dest --password nope --password pw p.zip", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(test::ReadFile(dir / "dest" / "sub" / "b.dat"),
              test::ReadFile(dir / "src" / "sub" / "b.dat"));

    out = Dvl("x -o flat --flat --spec '*.dat' --password pw p.zip", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(fs::exists(dir / "flat" / "b.dat"));
    EXPECT_FALSE(fs::exists(dir / "flat" / "a.txt"));

    // Without the password every entry fails with its own error.
    out = Dvl("x -o none p.zip", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("25190 Password protected (a.txt)"), std::string::npos) << out;
    EXPECT_NE(out.find("26999 Nothing to do (p.zip)"), std::string::npos) << out;
}

TEST_F(DvlExtract, TestReportsDamageAndWritesNothing) {
    test::ZipWriter w;
    w.Add({.name = "good.txt", .data = Bytes("good")});
    w.Add({.name = "bad.txt", .data = Bytes("bad"), .crcOverride = 1});
    test::WriteFile(dir / "t.zip", w.Build());
    int status = -1;
    std::string out = Dvl("t t.zip", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "25120 File fails CRC check (bad.txt)\n");
    EXPECT_FALSE(fs::exists(dir / "good.txt"));

    test::ZipWriter ok;
    ok.Add({.name = "good.txt", .data = Bytes("good")});
    test::WriteFile(dir / "ok.zip", ok.Build());
    out = Dvl("t ok.zip", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "ok.zip: ok\n");
}

TEST_F(DvlExtract, ArchivesThatCannotBeOpenedAndUsageErrorsExitTwo) {
    // HA archives are listed, not extracted.
    test::WriteFile(dir / "x.ha", std::vector<uint8_t>{'H', 'A', 1, 0, 0x21, 'j', 'u', 'n', 'k'});
    test::WriteFile(dir / "e.zip", test::ZipWriter().Build());
    // A program is no LZMA stream, though its first bytes fit the loosest test.
    fs::copy_file("/bin/true", dir / "prog");
    const std::pair<const char*, const char*> cases[] = {
        {"x missing.zip", "25135 Error opening file (missing.zip)"},
        {"x x.ha", "25142 Invalid or unsupported archive type for this operation (x.ha)"},
        {"t prog", "25142 Invalid or unsupported archive type for this operation (prog)"},
        {"t e.zip", "25202 Unknown file type (e.zip)"},
        {"x", "usage: dvl x"},
        {"x --overwrite=sometimes a.zip", "usage: dvl x"},
        {"x --bogus a.zip", "usage: dvl x"},
        {"x -o", "usage: dvl x"},
    };
    for (auto [args, expected] : cases) {
        int status = -1;
        std::string out = Dvl(args, &status);
        EXPECT_EQ(status, 2) << args;
        EXPECT_NE(out.find(expected), std::string::npos) << args << ": " << out;
    }
}

// Every archive argument is read against the folder the command started in,
// whatever folder the components made current for the one before.
TEST_F(DvlExtract, SeveralArchivesGivenAsRelativePaths) {
    fs::create_directories(dir / "a");
    for (const char* name : {"one", "two", "three"}) {
        test::ZipWriter w;
        w.Add({.name = std::string(name) + ".txt", .data = Bytes(name)});
        test::WriteFile(dir / "a" / (std::string(name) + ".zip"), w.Build());
    }
    int status = -1;
    std::string out = Dvl("x -o out a/one.zip a/two.zip a/three.zip", &status);
    EXPECT_EQ(status, 0) << out;
    for (const char* name : {"one", "two", "three"})
        EXPECT_EQ(test::ReadText(dir / "out" / (std::string(name) + ".txt")), name);
    out = Dvl("t a/one.zip a/two.zip", &status);
    EXPECT_EQ(status, 0) << out;
    out = Dvl("i a/one.zip a/two.zip a/three.zip", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
}

// Names are created exactly as stored: entries that differ only in case are
// files (and folders) of their own.
TEST_F(DvlExtract, CaseVariantsAreNeverMerged) {
    test::ZipWriter w;
    w.Add({.name = "readme.txt", .data = Bytes("lower")});
    w.Add({.name = "README.txt", .data = Bytes("upper")});
    w.Add({.name = "docs/a.txt", .data = Bytes("a")});
    w.Add({.name = "Docs/b.txt", .data = Bytes("b")});
    test::WriteFile(dir / "c.zip", w.Build());
    int status = -1;
    const std::string out = Dvl("x -o out c.zip", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(test::ReadText(dir / "out" / "readme.txt"), "lower");
    EXPECT_EQ(test::ReadText(dir / "out" / "README.txt"), "upper");
    EXPECT_EQ(test::ReadText(dir / "out" / "docs" / "a.txt"), "a");
    EXPECT_EQ(test::ReadText(dir / "out" / "Docs" / "b.txt"), "b");
}

// An existing file: kept (the default without a terminal) with a row,
// replaced (read-only ones too), or kept beside the entry written under a
// free name.
TEST_F(DvlExtract, ExistingFilesFollowTheOverwritePolicy) {
    test::ZipWriter w;
    w.Add({.name = "a.txt", .data = Bytes("new")});
    w.Add({.name = "b.txt", .data = Bytes("b")});
    test::WriteFile(dir / "n.zip", w.Build());
    const struct {
        const char* option;
        int status;
        const char* row;
        const char* a;       // a.txt afterwards
        const char* renamed; // "a (1).txt" afterwards, or null
    } cases[] = {
        {"", 1, "26916 Not extracted: the existing file stays (a.txt)", "old", nullptr},
        {"--overwrite=never", 1, "26916 Not extracted: the existing file stays (a.txt)", "old",
         nullptr},
        {"--overwrite=always", 0, "", "new", nullptr},
        {"--overwrite=rename", 1, "26911 Written under a changed name (a (1).txt)", "old", "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        test::WriteFile(dir / "out" / "a.txt", std::string("old"));
        fs::permissions(dir / "out" / "a.txt", fs::perms::owner_read);
        int status = -1;
        const std::string out = Dvl(std::string("x -o out ") + c.option + " n.zip", &status);
        EXPECT_EQ(status, c.status) << out;
        EXPECT_EQ(out, *c.row ? std::string(c.row) + "\n" : std::string());
        EXPECT_EQ(test::ReadText(dir / "out" / "a.txt"), c.a);
        EXPECT_EQ(test::ReadText(dir / "out" / "b.txt"), "b");
        EXPECT_EQ(fs::exists(dir / "out" / "a (1).txt"), c.renamed != nullptr);
        if (c.renamed) {
            EXPECT_EQ(test::ReadText(dir / "out" / "a (1).txt"), c.renamed);
        }
    }
}

// On a terminal dvl x asks for each existing file; "all" and "none" answer
// the questions after them too.
TEST_F(DvlExtract, OnATerminalEachExistingFileIsAskedFor) {
    DVL_REQUIRE_TOOL("script");
    test::ZipWriter w;
    for (const char* name : {"a", "b", "c", "d", "e"})
        w.Add({.name = std::string(name) + ".txt", .data = Bytes("new")});
    test::WriteFile(dir / "n.zip", w.Build());
    const struct {
        const char* answers;
        const char* expected; // a to e afterwards: n(ew), o(ld), r(enamed beside the old one)
    } cases[] = {
        {"n\\nr\\ny\\nN\\n", "ornoo"},
        {"y\\na\\n", "nnnnn"},
        {"bogus\\nn\\nNo\\nnone\\n", "ooooo"}, // "No" is no answer: asked again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answers);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        for (const char* name : {"a", "b", "c", "d", "e"})
            test::WriteFile(dir / "out" / (std::string(name) + ".txt"), std::string("old"));
        test::RunAndCapture("cd " + Quote(dir.Path()) + " && printf '" + c.answers +
                            "' | script -qec '" + kDvl + " x -o out n.zip' /dev/null");
        std::string got;
        for (const char* name : {"a", "b", "c", "d", "e"}) {
            const std::string text = test::ReadText(dir / "out" / (std::string(name) + ".txt"));
            const bool renamed = fs::exists(dir / "out" / (std::string(name) + " (1).txt"));
            got += renamed ? 'r' : text == "new" ? 'n' : 'o';
        }
        EXPECT_EQ(got, c.expected);
    }
}

} // namespace
} // namespace dvl
