// The built dvl2 program on real archives, for the flows that end by
// themselves, under the offscreen platform.
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::ReadFile;
using dvl::test::TempDir;
using dvl::test::WriteFile;

class Dvl2Program : public ::testing::Test {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("zip");
        fs::create_directories(dir_ / "src" / "sub");
        WriteFile(dir_ / "src" / "a.txt", "alpha");
        WriteFile(dir_ / "src" / "sub" / "b.txt", std::string(200000, 'b'));
        ASSERT_EQ(dvl::test::Run("zip -qrX " + Quote(dir_ / "data.zip") + " .", dir_ / "src"), 0);
        fs::remove_all(dir_ / "src");
        fs::create_directories(dir_ / "src");
        fs::create_directories(dir_ / "xdg");
        fs::permissions(dir_ / "xdg", fs::perms::owner_all);
    }
    int Dvl2(const std::string& args) {
        return dvl::test::Run("QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + Quote(dir_ / "xdg") +
                              " timeout 60 " + Quote(fs::path(DVL_BIN_DIR) / "dvl2") + " " + args +
                              " >/dev/null 2>&1");
    }
    TempDir dir_;
};

TEST_F(Dvl2Program, ExtractHereAndIntoTheArchiveNamedFolder) {
    ASSERT_EQ(Dvl2(Quote(dir_ / "data.zip") + " /h"), 0);
    EXPECT_EQ(ReadFile(dir_ / "a.txt").size(), 5u);
    EXPECT_EQ(ReadFile(dir_ / "sub" / "b.txt").size(), 200000u);

    ASSERT_EQ(Dvl2(Quote(dir_ / "data.zip") + " /d"), 0);
    EXPECT_EQ(ReadFile(dir_ / "data" / "a.txt").size(), 5u);
    EXPECT_EQ(ReadFile(dir_ / "data" / "sub" / "b.txt").size(), 200000u);
}

// ARJ and LHA archives (tagged by their first bytes) extract and test in the
// real window as ZIP archives do, and the process ends by itself.
TEST_F(Dvl2Program, ArjAndLhaArchivesExtractAndTest) {
    DVL_REQUIRE_TOOL("arj");
    DVL_REQUIRE_TOOL("jlha");
    ASSERT_EQ(
        dvl::test::Run("unzip -q ../data.zip && arj a -m1 -r -y ../data.arj '*' >/dev/null && "
                       "jlha aq0 ../data.lzh a.txt sub/b.txt >/dev/null",
                       dir_ / "src"),
        0);
    for (const char* archive : {"data.arj", "data.lzh"}) {
        SCOPED_TRACE(archive);
        ASSERT_EQ(Dvl2(Quote(dir_ / archive) + " /d"), 0);
        const fs::path out = dir_ / fs::path(archive).stem();
        EXPECT_EQ(ReadFile(out / "a.txt").size(), 5u);
        EXPECT_EQ(ReadFile(out / "sub" / "b.txt").size(), 200000u);
        fs::remove_all(out);
        ASSERT_EQ(Dvl2(Quote(dir_ / archive) + " /t"), 0);
        EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
    }
}

TEST_F(Dvl2Program, MissingArchiveEndsSilently) {
    EXPECT_EQ(Dvl2(Quote(dir_ / "none.zip") + " /h"), 0);
    EXPECT_FALSE(fs::exists(dir_ / "none"));
}

} // namespace
} // namespace dvl::dvl2
