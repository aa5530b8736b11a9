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
        PendingFile pending;
        OutputResult result = tree_.CreateFile(relative, file, pending);
        if (result.Ok()) {
            file.Write("x", 1);
            file.Close();
            EXPECT_TRUE(pending.Commit());
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
    PendingFile pending;
    EXPECT_TRUE(fresh.CreateFile("d.txt", file, pending).Ok());
    file.Close();
    EXPECT_TRUE(pending.Commit());
    EXPECT_TRUE(fs::exists(root_ / "made" / "here" / "d.txt"));
}

// A file is written beside its name: until committed the old file stays,
// and a discarded one leaves nothing; an archive being read is never replaced.
TEST_F(OutputTreeTest, FilesTakeTheirNameOnlyWhenCommitted) {
    test::WriteFile(dest_ / "old.txt", std::string("old"));
    const auto write = [&](const std::string& relative, PendingFile& pending) {
        File file;
        EXPECT_TRUE(tree_.CreateFile(relative, file, pending).Ok());
        file.Write("new", 3);
        file.Close();
    };
    {
        PendingFile pending;
        write("old.txt", pending);
        EXPECT_EQ(test::ReadText(dest_ / "old.txt"), "old");
        pending.Discard();
    }
    {
        PendingFile dropped; // dropped uncommitted: discarded
        write("old.txt", dropped);
    }
    EXPECT_EQ(test::ReadText(dest_ / "old.txt"), "old");
    {
        PendingFile kept;
        write("old.txt", kept);
        EXPECT_TRUE(kept.KeepAs(".broken"));
    }
    EXPECT_EQ(test::ReadText(dest_ / "old.txt.broken"), "new");
    PendingFile pending;
    write("old.txt", pending);
    EXPECT_TRUE(pending.Commit());
    EXPECT_EQ(test::ReadText(dest_ / "old.txt"), "new");
    // Nothing but the files themselves is left.
    size_t count = 0;
    for (const auto& e : fs::directory_iterator(dest_))
        count += e.path().filename().string().rfind(".dvl", 0) == 0;
    EXPECT_EQ(count, 0u);

    // The archive, by whatever name leads to it.
    test::WriteFile(root_ / "data.zip", std::string("archive"));
    fs::create_hard_link(root_ / "data.zip", dest_ / "same.zip");
    tree_.Protect(ToWindowsPath((root_ / "data.zip").string()));
    EXPECT_EQ(tree_.Check("same.zip").status, OutputStatus::Protected);
    EXPECT_EQ(Create("same.zip").status, OutputStatus::Protected);
    EXPECT_EQ(test::ReadText(root_ / "data.zip"), "archive");
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
