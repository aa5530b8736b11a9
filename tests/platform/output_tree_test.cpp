#include "platform/output_tree.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class OutputTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dest_);
        fs::create_directories(root_ / "outside");
        fs::create_symlink("../outside", dest_ / "lnk");
        fs::create_directories(dest_ / "deep");
        fs::create_symlink("../../outside/file.txt", dest_ / "deep" / "file.txt");
        test::WriteFile(dest_ / "plain", std::string("a file where a folder is wanted"));
    }

    OutputResult Create(const std::string& relative) {
        File file;
        OutputResult result = tree_.CreateFile(relative, file);
        if (result.Ok()) {
            file.Write("x", 1);
            file.Close();
        }
        return result;
    }

    TempDir root_;
    fs::path dest_ = root_ / "dest";
    OutputTree tree_{ToWindowsPath(dest_.string())};
};

TEST_F(OutputTreeTest, RefusesLinksAndNamesNoFileSystemHolds) {
    const struct {
        const char* relative;
        OutputStatus status;
    } cases[] = {
        {"lnk\\x.txt", OutputStatus::LinkInPath},      // a linked folder
        {"lnk\\sub\\x.txt", OutputStatus::LinkInPath}, // deeper below it
        {"deep\\file.txt", OutputStatus::LinkInPath},  // a link in the file's place
        {"lnk", OutputStatus::LinkInPath},
        {"plain\\x.txt", OutputStatus::FolderFailed}, // a file in a folder's place
        {"deep", OutputStatus::FileFailed},           // a folder in the file's place
        {"a\\..\\x.txt", OutputStatus::InvalidName},
        {"", OutputStatus::InvalidName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        EXPECT_EQ(tree_.Check(c.relative).status,
                  c.status == OutputStatus::LinkInPath || c.status == OutputStatus::InvalidName
                      ? c.status
                      : OutputStatus::Ok);
        EXPECT_EQ(Create(c.relative).status, c.status);
    }
    EXPECT_EQ(Create(std::string("nul\0x", 5)).status, OutputStatus::InvalidName);
    EXPECT_TRUE(fs::is_empty(root_ / "outside"));
    EXPECT_TRUE(fs::is_symlink(dest_ / "lnk"));
}

TEST_F(OutputTreeTest, CreatesExactNamesWithTheirFoldersAndFitsLongOnes) {
    EXPECT_TRUE(Create("LNK\\a.txt").Ok()); // not the link: names keep their case
    EXPECT_TRUE(Create("new\\sub\\b.txt").Ok());
    EXPECT_TRUE(fs::is_regular_file(dest_ / "LNK" / "a.txt"));
    EXPECT_TRUE(fs::is_regular_file(dest_ / "new" / "sub" / "b.txt"));

    const std::string longName = std::string(300, 'z') + ".txt";
    const OutputResult result = Create("f\\" + longName);
    ASSERT_TRUE(result.Ok());
    EXPECT_TRUE(result.renamed);
    EXPECT_EQ(result.relative, "f\\" + FittedName(longName));
    EXPECT_TRUE(fs::is_regular_file(dest_ / "f" / FittedName(longName)));
    EXPECT_TRUE(tree_.RemoveFile(result.relative));
    EXPECT_FALSE(fs::exists(dest_ / "f" / FittedName(longName)));
    EXPECT_FALSE(tree_.RemoveFile("deep")); // folders are not removed

    // Check creates nothing.
    EXPECT_TRUE(tree_.Check("unmade\\c.txt").Ok());
    EXPECT_FALSE(fs::exists(dest_ / "unmade"));
    // The destination itself is made when first needed.
    OutputTree fresh(ToWindowsPath((root_ / "made" / "here").string()));
    File file;
    EXPECT_TRUE(fresh.CreateFile("d.txt", file).Ok());
    EXPECT_TRUE(fs::exists(root_ / "made" / "here" / "d.txt"));
}

TEST(FittedName, ShortNamesStayAndLongOnesFitStablyOnCharacterBoundaries) {
    EXPECT_EQ(FittedName("short.txt"), "short.txt");
    EXPECT_EQ(FittedName(std::string(255, 'a')), std::string(255, 'a'));
    std::string utf8;
    for (int i = 0; i < 200; ++i)
        utf8 += "\xC3\xA9"; // é, two bytes each
    const std::string fitted = FittedName(utf8 + ".txt");
    EXPECT_LE(fitted.size(), kMaxNameBytes);
    EXPECT_EQ(fitted.substr(fitted.size() - 4), ".txt");
    EXPECT_EQ(fitted[fitted.size() - 13], '~');
    // The part before the tag is whole characters.
    EXPECT_EQ((fitted.size() - 13) % 2, 0u);
    EXPECT_EQ(FittedName(utf8 + ".txt"), fitted);
    EXPECT_NE(FittedName(utf8 + "x.txt"), fitted); // the tag depends on the whole name
}

TEST_F(OutputTreeTest, AFifoInTheFilesPlaceNeverHangs) {
    ASSERT_EQ(mkfifo((dest_ / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(Create("pipe").status, OutputStatus::FileFailed);
}

} // namespace
} // namespace dvl::platform
