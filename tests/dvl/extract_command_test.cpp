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
    test::WriteFile(dir / "x.arj", std::vector<uint8_t>{0x60, 0xEA, 1, 2, 3, 4, 5, 6});
    test::WriteFile(dir / "e.zip", test::ZipWriter().Build());
    const std::pair<const char*, const char*> cases[] = {
        {"x missing.zip", "25135 Error opening file (missing.zip)"},
        {"x x.arj", "25142 Invalid or unsupported archive type for this operation (x.arj)"},
        {"t e.zip", "25202 Unknown file type (e.zip)"},
        {"x", "usage: dvl x"},
        {"t a.zip b.zip", "usage: dvl t"},
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

} // namespace
} // namespace dvl
