// The start-up sequence: every switch, the fatal conditions and their
// message boxes, and the window prepared for the mode.
#include "dvl2/core/front_end.h"
#include "tests/dvl2/harness.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace dvl::dvl2 {
namespace {

using dvl::test::TempDir;
using dvl::test::WriteFile;
using platform::MessageIcon;
using test::MessageBoxes;
using test::ScriptedView;

struct Box {
    std::string caption, text;
    MessageIcon icon;
};

struct StartCase {
    const char* title;
    std::string file;                // archive created in the folder ("" = none)
    std::string content;             // its first bytes
    std::optional<std::string> arg1; // default: the archive's path
    std::string arg2;
    std::optional<Box> box;
    bool ends = false;
    int mode = kModeExtract;
    std::string dest; // "<dir>" stands for the folder with its "\"
    Panel panel = Panel::Progress;
    std::string caption;
};

const std::string kUsage = "Dovrel cannot be run this way..\r\rUsage: Right click on an "
                           "associated file/archive in explorer\rand select desired action..";
const std::string kTestNote = "\"Test Archive\"\r\rNot yet implemented for this archive format..";
const std::string kExists = "Cannot create directory.. (directory already exists)";

const StartCase kCases[] = {
    {"extract here",
     "data.zip",
     "PK",
     {},
     "/h",
     {},
     false,
     0,
     "<dir>",
     Panel::Progress,
     "Extracting.."},
    {"archive-named folder",
     "data.zip",
     "PK",
     {},
     "/d",
     {},
     false,
     0,
     "<dir>data",
     Panel::Progress,
     "Extracting.."},
    {"short name: own folder exists",
     "abcd",
     "PK",
     {},
     "/d",
     Box{"Error", kExists, MessageIcon::Error},
     true,
     0,
     "",
     Panel::None,
     ""},
    {"test ZIP: tested like the formats of the libraries",
     "data.zip",
     "PK",
     {},
     "/t",
     {},
     false,
     1,
     "<dir>",
     Panel::Progress,
     "Testing.."},
    {"test RAR",
     "data.rar",
     "Rar!\x1a\x07",
     {},
     "/t",
     {},
     false,
     1,
     "<dir>",
     Panel::Progress,
     "Testing.."},
    {"list ZIP",
     "data.zip",
     "PK",
     {},
     "/l",
     {},
     false,
     2,
     "<dir>",
     Panel::ZipList,
     "Contents of [data.zip]"},
    {"open lists",
     "data.zip",
     "PK",
     {},
     "",
     {},
     false,
     2,
     "<dir>",
     Panel::ZipList,
     "Contents of [data.zip]"},
    {"list ARJ",
     "data.arj",
     "\x60\xEA",
     {},
     "/l",
     {},
     false,
     2,
     "<dir>",
     Panel::ZipList,
     "Contents of [data.arj]"},
    {"help", "data.zip", "PK", {}, "/?", {}, true, 0, "", Panel::None, ""},
    {"upper-case /D",
     "data.zip",
     "PK",
     {},
     "/D",
     {},
     false,
     0,
     "",
     Panel::Progress,
     "Extracting.."},
    {"upper-case /N",
     "data.zip",
     "PK",
     {},
     "/N",
     {},
     false,
     0,
     "",
     Panel::Progress,
     "Extracting.."},
    {"unknown switch",
     "data.zip",
     "PK",
     {},
     "-x",
     {},
     false,
     0,
     "",
     Panel::Progress,
     "Extracting.."},
    {"no argument", "", "", std::string(), "/h",
     Box{"Dovrel - NOTE! -", kUsage, MessageIcon::Warning}, true, 0, "", Panel::None, ""},
    {"missing file",
     "",
     "",
     std::string("/nonexistent/dovrel/none.zip"),
     "/h",
     {},
     true,
     0,
     "",
     Panel::None,
     ""},
    {"unrecognised",
     "notes.txt",
     "plain text",
     {},
     "/h",
     Box{"Dovrel v2.2b", "No files to extract, or un-recognized format..", MessageIcon::None},
     true,
     0,
     "",
     Panel::None,
     ""},
    {"unrecognised with /t: the note comes first",
     "notes.txt",
     "plain text",
     {},
     "/t",
     Box{"Dovrel - NOTE! -", kTestNote, MessageIcon::Warning},
     true,
     0,
     "",
     Panel::None,
     ""},
};

class StartupTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::current_path(cwd_); }
    std::filesystem::path cwd_ = std::filesystem::current_path();
};

TEST_F(StartupTest, Switches) {
    for (const StartCase& c : kCases) {
        SCOPED_TRACE(c.title);
        TempDir dir;
        MessageBoxes boxes;
        ScriptedView view;
        FrontEnd frontEnd(view);
        std::string path;
        if (!c.file.empty()) {
            WriteFile(dir / c.file, c.content);
            path = (dir / c.file).string();
        }
        frontEnd.FormShow(c.arg1 ? *c.arg1 : path, c.arg2);

        const std::string folder = platform::ToWindowsPath(dir.Path().string()) + "\\";
        ASSERT_EQ(boxes.shown.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes.shown[0].caption, c.box->caption);
            EXPECT_EQ(boxes.shown[0].text, c.box->text);
            EXPECT_EQ(boxes.shown[0].icon, c.box->icon);
            EXPECT_EQ(boxes.shown[0].buttons, platform::MessageButtons::Ok);
        }
        EXPECT_EQ(platform::Terminated(), c.ends);
        EXPECT_EQ(frontEnd.State().StartPending, !c.ends);
        EXPECT_EQ(view.helpShown, c.arg2 == "/?" && !c.file.empty() ? 1 : 0);
        if (c.ends) {
            EXPECT_TRUE(view.layouts.empty());
            continue;
        }
        std::string dest = c.dest;
        if (dest.starts_with("<dir>")) dest = folder + dest.substr(5);
        EXPECT_EQ(frontEnd.State().Mode, c.mode);
        EXPECT_EQ(frontEnd.State().DestFolder, dest);
        EXPECT_EQ(frontEnd.State().ArchivePath, folder + c.file);
        ASSERT_EQ(view.layouts.size(), 1u);
        EXPECT_EQ(view.layouts[0].panel, c.panel);
        EXPECT_EQ(view.layouts[0].caption, c.caption);
        EXPECT_EQ(view.fileLabels, std::vector<std::string>{""});
        EXPECT_EQ(view.archiveLabels, std::vector<std::string>{""});
        if (c.arg2 == "/d") {
            EXPECT_TRUE(std::filesystem::is_directory(dir / "data"));
        }
    }
}

TEST_F(StartupTest, ExistingArchiveNamedFolderIsRefusedAndLeftAlone) {
    TempDir dir;
    WriteFile(dir / "data.zip", "PK");
    std::filesystem::create_directory(dir / "data");
    WriteFile(dir / "data" / "keep.txt", "mine");
    MessageBoxes boxes;
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.FormShow((dir / "data.zip").string(), "/d");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, kExists);
    EXPECT_TRUE(platform::Terminated());
    EXPECT_EQ(dvl::test::ReadFile(dir / "data" / "keep.txt").size(), 4u);
}

TEST_F(StartupTest, ExtractToTakesTheChosenFolderAndCancelEnds) {
    TempDir dir;
    WriteFile(dir / "data.zip", "PK");
    for (const std::string& answer : {std::string("C:\\chosen"), std::string()}) {
        MessageBoxes boxes;
        ScriptedView view;
        view.extractToAnswer = answer;
        FrontEnd frontEnd(view);
        frontEnd.FormShow((dir / "data.zip").string(), "/n");
        EXPECT_EQ(view.extractToShown, 1);
        EXPECT_EQ(frontEnd.State().DestFolder, answer);
        EXPECT_EQ(platform::Terminated(), answer.empty());
        EXPECT_EQ(frontEnd.State().StartPending, !answer.empty());
        EXPECT_TRUE(boxes.shown.empty());
    }
}

TEST_F(StartupTest, VolumeBarCountsTheSiblingsAndTheFirstPaintStartsOnce) {
    TempDir dir;
    for (const char* name : {"set.rar", "set.r00", "set.r01", "other.rar"})
        WriteFile(dir / name, "Rar!");
    MessageBoxes boxes;
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.FormShow((dir / "set.rar").string(), "/h");
    EXPECT_EQ(frontEnd.VolumeBarMaximum(), 3);
    EXPECT_EQ(view.volumeBar.back(), std::make_pair(0, 3));
    EXPECT_TRUE(frontEnd.TakeStartPending());
    EXPECT_FALSE(frontEnd.TakeStartPending());
}

} // namespace
} // namespace dvl::dvl2
