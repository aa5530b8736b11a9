// dvl2 on the formats of the extraction layer: start-up finds them by the
// components' detection, and the same window extracts, tests and lists them.
#include "dvl2/core/front_end.h"
#include "tests/dvl2/harness.h"

#include "archive/errors.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::ReadText;
using dvl::test::TempDir;
using dvl::test::WriteFile;
using test::LogRow;
using test::MessageBoxes;
using test::ScriptedView;

class LayerRun : public ::testing::Test {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("tar");
        DVL_REQUIRE_TOOL("gcab");
        fs::create_directories(dir_ / "src" / "sub");
        WriteFile(dir_ / "src" / "a.txt", std::string("alpha"));
        WriteFile(dir_ / "src" / "sub" / "b.txt", std::string(100000, 'b'));
        ASSERT_EQ(
            dvl::test::Run("tar -czf ../t.tgz a.txt sub && gcab -c -z ../c.cab a.txt sub/b.txt",
                           dir_ / "src"),
            0);
    }
    void TearDown() override { fs::current_path(cwd_); }

    void Start(const std::string& archive, const std::string& sw) {
        frontEnd_.FormShow((dir_ / archive).string(), sw);
        ASSERT_TRUE(frontEnd_.TakeStartPending());
        frontEnd_.RunOperation();
    }

    fs::path cwd_ = fs::current_path();
    TempDir dir_;
    MessageBoxes boxes_;
    ScriptedView view_;
    FrontEnd frontEnd_{view_};
};

TEST_F(LayerRun, ExtractsACompressedTarAndACabinet) {
    Start("t.tgz", "/d");
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(ReadText(dir_ / "t" / "a.txt"), "alpha");
    EXPECT_EQ(ReadText(dir_ / "t" / "sub" / "b.txt"), std::string(100000, 'b'));
    EXPECT_TRUE(platform::Terminated());

    platform::ResetTerminated();
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.FormShow((dir_ / "c.cab").string(), "/d");
    ASSERT_TRUE(frontEnd.TakeStartPending());
    frontEnd.RunOperation();
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(ReadText(dir_ / "c" / "sub" / "b.txt"), std::string(100000, 'b'));
    EXPECT_NE(std::find(view.fileLabels.begin(), view.fileLabels.end(), "b.txt"),
              view.fileLabels.end());
}

TEST_F(LayerRun, ListsAndTests) {
    Start("t.tgz", "/l");
    ASSERT_EQ(view_.listRows.size(), 3u); // a.txt, the folder sub, sub/b.txt
    EXPECT_EQ(view_.listRows[0][0], "a.txt");
    EXPECT_EQ(view_.listRows[2][3], "100000");
    EXPECT_FALSE(platform::Terminated()); // the list stays

    platform::ResetTerminated();
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.FormShow((dir_ / "c.cab").string(), "/t");
    ASSERT_TRUE(frontEnd.TakeStartPending());
    frontEnd.RunOperation();
    EXPECT_TRUE(view.log.empty());
    EXPECT_FALSE(fs::exists(dir_ / "a.txt")); // a test writes nothing
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(LayerRun, ADamagedEntryHasItsRow) {
    std::vector<uint8_t> bytes = dvl::test::ReadFile(dir_ / "t.tgz");
    bytes.resize(bytes.size() - 30); // into the last member
    WriteFile(dir_ / "cut.tgz", bytes);
    Start("cut.tgz", "/t");
    ASSERT_FALSE(view_.log.empty());
    EXPECT_EQ(view_.log.back().archive, "cut.tgz");
    EXPECT_EQ(view_.logShownWith, std::vector<std::string>{"Error log.."});
}

// ARJ and LHA archives, tagged by their first bytes, run the same back end in
// every mode as the formats detection tags.
TEST_F(LayerRun, ArjAndLhaExtractTestAndList) {
    DVL_REQUIRE_TOOL("arj");
    DVL_REQUIRE_TOOL("jlha");
    fs::create_directories(dir_ / "arj");
    fs::create_directories(dir_ / "lha");
    ASSERT_EQ(dvl::test::Run("arj a -m1 -y ../arj/a.arj a.txt sub/b.txt >/dev/null && "
                             "jlha aq0 ../lha/l.lzh a.txt sub/b.txt >/dev/null",
                             dir_ / "src"),
              0);
    for (const std::string archive : {"arj/a.arj", "lha/l.lzh"}) {
        SCOPED_TRACE(archive);
        const fs::path folder = (dir_ / archive).parent_path();
        for (const std::string sw : {"/h", "/t", "/l"}) {
            platform::ResetTerminated();
            ScriptedView view;
            FrontEnd frontEnd(view);
            frontEnd.FormShow((dir_ / archive).string(), sw);
            ASSERT_TRUE(frontEnd.TakeStartPending()) << sw;
            frontEnd.RunOperation();
            EXPECT_TRUE(view.log.empty()) << sw;
            EXPECT_EQ(platform::Terminated(), sw != "/l") << sw;
            if (sw == "/l") {
                ASSERT_EQ(view.listRows.size(), 2u);
                EXPECT_EQ(view.listRows[1][0], "b.txt");
                EXPECT_EQ(view.listRows[1][3], "100000");
            }
        }
        EXPECT_EQ(ReadText(folder / "a.txt"), "alpha");
        EXPECT_EQ(ReadText(folder / "sub" / "b.txt"), std::string(100000, 'b'));

        // A byte of b.txt's compressed data changed: its entry fails, with a row.
        std::vector<uint8_t> bytes = dvl::test::ReadFile(dir_ / archive);
        bytes[bytes.size() / 2] ^= 0x55;
        WriteFile(folder / "bad.bin", bytes);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.FormShow((folder / "bad.bin").string(), "/t");
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        ASSERT_FALSE(view.log.empty());
        EXPECT_EQ(view.log.back().archive, "bad.bin");
    }
}

} // namespace
} // namespace dvl::dvl2
