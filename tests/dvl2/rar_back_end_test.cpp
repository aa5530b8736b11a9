// Whole RAR runs through the UnRAR library: archives made at test time by
// rar (RAR5) and the peer fixtures for the older formats, with the windows
// replaced by a scripted view.
#include "dvl2/core/front_end.h"
#include "dvl2/core/rar_back_end.h"
#include "tests/dvl2/harness.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::ReadFile;
using dvl::test::ReadText;
using dvl::test::TempDir;
using dvl::test::WriteFile;
using test::LogRow;
using test::MessageBoxes;
using test::ScriptedView;

// Bytes that do not compress, so that volumes split where expected.
std::string Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

fs::path RarFixtures() {
    const fs::path p = dvl::test::PeerFixtures();
    return p.empty() ? p : p / "rar";
}

class RarRun : public ::testing::Test {
protected:
    void SetUp() override { DVL_REQUIRE_TOOL("rar"); }
    void TearDown() override { fs::current_path(cwd_); }

    // Makes dir/<archive> with rar from the given files (name -> content;
    // a name ending in "/" is an empty folder), with extra switches.
    void MakeRar(const std::string& archive, const std::map<std::string, std::string>& files,
                 const std::string& switches = "") {
        const fs::path src = dir_ / ("src-" + archive);
        for (const auto& [name, content] : files) {
            if (name.back() == '/') {
                fs::create_directories(src / name);
                continue;
            }
            fs::create_directories((src / name).parent_path());
            WriteFile(src / name, content);
        }
        ASSERT_EQ(dvl::test::Run("rar a -idq -r -m3 " + switches + " " + Quote(dir_ / archive) +
                                     " '*' >/dev/null",
                                 src),
                  0);
        fs::remove_all(src);
    }

    // Start-up on a path with the switch, then the operation.
    void Start(const fs::path& archive, const std::string& sw) {
        frontEnd_.FormShow(archive.string(), sw);
        ASSERT_TRUE(frontEnd_.TakeStartPending());
        frontEnd_.RunOperation();
    }

    std::string UnrarP(const fs::path& archive, const std::string& name) {
        return dvl::test::RunAndCapture("unrar p -inul " + Quote(archive) + " " + Quote(name));
    }

    fs::path cwd_ = fs::current_path();
    TempDir dir_;
    MessageBoxes boxes_;
    ScriptedView view_;
    FrontEnd frontEnd_{view_};
};

TEST_F(RarRun, ExtractsASolidArchiveWithFoldersAndEmptyEntries) {
    DVL_REQUIRE_TOOL("unrar");
    MakeRar("data.rar",
            {{"a.txt", std::string(70000, 'a')},
             {"sub/b.bin", Noise(300000, 1)},
             {"zero.txt", ""},
             {"empty/", ""}},
            "-s");
    Start(dir_ / "data.rar", "/d");
    const fs::path out = dir_ / "data";
    EXPECT_EQ(ReadText(out / "a.txt"), UnrarP(dir_ / "data.rar", "a.txt"));
    EXPECT_EQ(ReadText(out / "sub" / "b.bin"), UnrarP(dir_ / "data.rar", "sub/b.bin"));
    EXPECT_TRUE(fs::is_regular_file(out / "zero.txt"));
    EXPECT_EQ(fs::file_size(out / "zero.txt"), 0u);
    EXPECT_TRUE(fs::is_directory(out / "empty"));
    EXPECT_TRUE(view_.log.empty()) << view_.log[0].error;
    EXPECT_TRUE(view_.logShownWith.empty());
    EXPECT_EQ(view_.archiveLabels.back(), "data.rar");
    // The file label shows the name without its folders.
    EXPECT_NE(std::find(view_.fileLabels.begin(), view_.fileLabels.end(), "b.bin"),
              view_.fileLabels.end());
    EXPECT_EQ(view_.entryBar.back(), 0); // the last entry, a folder, reports no data
    EXPECT_NE(std::find(view_.entryBar.begin(), view_.entryBar.end(), 100), view_.entryBar.end());
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(RarRun, ExtractReplacesAnExistingReadOnlyFile) {
    MakeRar("data.rar", {{"a.txt", "new content"}});
    WriteFile(dir_ / "a.txt", "old");
    fs::permissions(dir_ / "a.txt", fs::perms::owner_read);
    // A second link shows that the file was replaced, not written through.
    fs::create_hard_link(dir_ / "a.txt", dir_ / "other.txt");
    Start(dir_ / "data.rar", "/h");
    EXPECT_EQ(ReadText(dir_ / "a.txt"), "new content");
    EXPECT_EQ(ReadText(dir_ / "other.txt"), "old");
    EXPECT_TRUE(view_.log.empty()) << view_.log[0].error;
}

TEST_F(RarRun, ReplacingNeverDeletesThroughALinkedFolder) {
    MakeRar("data.rar", {{"link/keep.txt", "from the archive"}});
    fs::create_directories(dir_ / "outside");
    WriteFile(dir_ / "outside" / "keep.txt", "outside");
    fs::create_directories(dir_ / "dest");
    fs::create_directory_symlink(dir_ / "outside", dir_ / "dest" / "link");
    view_.extractToAnswer = (dir_ / "dest").string() + "/";
    Start(dir_ / "data.rar", "/n");
    EXPECT_EQ(ReadText(dir_ / "outside" / "keep.txt"), "outside");
}

TEST_F(RarRun, TestModeWritesNothingAndReportsTheFirstDamagedEntry) {
    MakeRar("data.rar",
            {{"a.txt", "first entry, intact"},
             {"b.bin", Noise(200000, 2)},
             {"c.bin", Noise(200000, 3)}},
            "-m0");
    // Damage the middle of b.bin's data; its header stays intact.
    std::vector<uint8_t> bytes = ReadFile(dir_ / "data.rar");
    const std::string text = Noise(200000, 2).substr(100000, 16);
    const std::vector<uint8_t> tail(text.begin(), text.end());
    const auto at = std::search(bytes.begin(), bytes.end(), tail.begin(), tail.end());
    ASSERT_NE(at, bytes.end());
    for (int i = 0; i < 8; ++i)
        at[i] ^= 0x55;
    WriteFile(dir_ / "bad.rar", bytes);

    Start(dir_ / "bad.rar", "/t");
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"bad.rar", "b.bin", "CRC error"}}));
    EXPECT_EQ(view_.logShownWith, std::vector<std::string>{"Error log.."});
    EXPECT_EQ(view_.fileLabels.back(), "b.bin"); // the walk stopped there
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(RarRun, BrokenNextHeaderEndsTheWalkWithItsRow) {
    MakeRar("data.rar", {{"a.txt", "alpha"}, {"b_entry_name.txt", "beta"}}, "-m0");
    std::vector<uint8_t> bytes = ReadFile(dir_ / "data.rar");
    const std::string name = "b_entry_name";
    const auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, bytes.end());
    at[0] ^= 0x01;
    WriteFile(dir_ / "hdr.rar", bytes);

    Start(dir_ / "hdr.rar", "/t");
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"hdr.rar", "a.txt", "File header broken"}}));
}

TEST_F(RarRun, ListFillsTheListAndLeavesTheWindowOpen) {
    MakeRar("data.rar", {{"a.txt", "12345"}, {"sub/b.txt", "xy"}, {"d/", ""}});
    Start(dir_ / "data.rar", "/l");
    std::vector<OtherListRow> rows = view_.otherRows;
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<OtherListRow>{{"data.rar", "a.txt", "5"},
                                               {"data.rar", "b.txt", "2"},
                                               {"data.rar", "d", "0"},
                                               {"data.rar", "sub", "0"}}));
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
    EXPECT_TRUE(view_.log.empty());
    EXPECT_FALSE(platform::Terminated());
}

TEST_F(RarRun, VolumeSetReportsEachVolumeAndAMissingOne) {
    MakeRar("set.rar", {{"big.bin", Noise(100000, 4)}, {"zz.txt", "after"}}, "-m0 -v30k");
    ASSERT_TRUE(fs::exists(dir_ / "set.part4.rar"));
    const fs::path whole = dir_ / "whole";
    fs::create_directories(whole);
    for (int i = 1; i <= 4; ++i) {
        const std::string name = "set.part" + std::to_string(i) + ".rar";
        fs::copy_file(dir_ / name, whole / name);
    }
    Start(whole / "set.part1.rar", "/t");
    EXPECT_TRUE(view_.log.empty()) << view_.log[0].error;
    // Three volume changes, one step each, from the maximum counted at start-up
    // (set.part1.* matches one file).
    const std::vector<std::pair<int, int>> bar(view_.volumeBar.end() - 3, view_.volumeBar.end());
    EXPECT_EQ(bar, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {3, 1}}));
    for (const char* v : {"set.part2.rar", "set.part3.rar", "set.part4.rar"})
        EXPECT_NE(std::find(view_.archiveLabels.begin(), view_.archiveLabels.end(), v),
                  view_.archiveLabels.end())
            << v;

    // The same set without its second volume.
    platform::ResetTerminated();
    fs::remove(dir_ / "set.part2.rar");
    ScriptedView view;
    FrontEnd frontEnd(view);
    frontEnd.FormShow((dir_ / "set.part1.rar").string(), "/h");
    ASSERT_TRUE(frontEnd.TakeStartPending());
    frontEnd.RunOperation();
    // The library asks for the missing volume by its full path, then fails
    // the entry that continues there; no part of it stays on disk.
    EXPECT_EQ(view.log,
              (std::vector<LogRow>{{(dir_ / "set.part2.rar").string(), "N/A", "Can't find file"},
                                   {"set.part1.rar", "big.bin", "Volume open error"}}));
    EXPECT_EQ(view.logShownWith, std::vector<std::string>{"Error log.."});
    EXPECT_FALSE(fs::exists(dir_ / "big.bin"));
}

TEST_F(RarRun, CancelFromTheDataCallbackStopsTheWalk) {
    MakeRar("data.rar", {{"a.bin", Noise(2000000, 5)}, {"b.txt", "b"}}, "-m0");
    int blocks = 0;
    platform::SetProcessMessagesHook([&] {
        if (!view_.entryBar.empty() && view_.entryBar.back() > 0 && ++blocks == 1)
            frontEnd_.State().CancelRequested = true, platform::Terminate();
    });
    Start(dir_ / "data.rar", "/h");
    platform::SetProcessMessagesHook(nullptr);
    EXPECT_EQ(blocks, 1);
    EXPECT_LT(view_.entryBar.back(), 100);
    EXPECT_FALSE(fs::exists(dir_ / "b.txt"));
    EXPECT_TRUE(view_.logShownWith.empty());
}

// Failures that the library reports at open time or for the walk.
TEST_F(RarRun, FailuresGetTheirRows) {
    MakeRar("psw.rar", {{"a.txt", std::string(1000, 'p')}}, "-psecret");
    MakeRar("hpsw.rar", {{"a.txt", std::string(1000, 'h')}}, "-hpsecret");
    WriteFile(dir_ / "fake.rar", "this is no rar! archive at all");
    struct Case {
        const char* archive;
        const char* sw;
        std::vector<LogRow> rows;
    } cases[] = {
        {"fake.rar", "/h", {{"", "", "Not a valid RAR archive.."}}},
        {"psw.rar", "/t", {{"psw.rar", "a.txt", "Password required"}}},
        {"hpsw.rar", "/t", {{"", "", "Password required"}}},
        {"hpsw.rar", "/l", {{"", "", "Password required"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.archive) + " " + c.sw);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.FormShow((dir_ / c.archive).string(), c.sw);
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        EXPECT_EQ(view.log, c.rows);
        EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
    }
}

TEST_F(RarRun, AnArchiveThatCannotBeOpenedGetsItsOpenRow) {
    // Gone between start-up and the first paint.
    FrontState& state = frontEnd_.State();
    state.ArchivePath = platform::ToWindowsPath((dir_ / "gone.rar").string());
    state.ArchiveFormat = "RAR";
    state.Mode = kModeExtract;
    frontEnd_.RunOperation();
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"", "", "Cannot open archive"}}));
    EXPECT_TRUE(frontEnd_.Rar().ArchiveFailed());
    EXPECT_TRUE(platform::Terminated());
}

// The texts of the two result tables, and the rows for results outside them.
TEST(RarErrorRows, OpenAndProcessResultsReadAsTheirTables) {
    const std::vector<std::pair<int, std::string>> open = {
        {11, "Not enough memory"},         {12, "Failed CRC check, broken header.."},
        {13, "Not a valid RAR archive.."}, {15, "Cannot open archive"},
        {22, "Password required"},         {14, "Unknown error (code 14)"}};
    const std::vector<std::pair<int, std::string>> process = {{12, "CRC error"},
                                                              {13, "Bad volume"},
                                                              {14, "Unknown archive format"},
                                                              {15, "Volume open error"},
                                                              {16, "File create error"},
                                                              {17, "File close error"},
                                                              {18, "Read error"},
                                                              {19, "Write error"},
                                                              {22, "Password required"},
                                                              {24, "Wrong password"},
                                                              {21, "Unknown error (code 21)"}};
    MessageBoxes boxes;
    ScriptedView view;
    FrontEnd frontEnd(view);
    std::vector<LogRow> expected;
    for (const auto& [code, text] : open) {
        frontEnd.Rar().ReportRarOpenError(code);
        expected.push_back({"", "", text});
    }
    for (const auto& [code, text] : process) {
        frontEnd.Rar().ReportRarProcessError(code);
        expected.push_back({"", "", text});
    }
    EXPECT_EQ(view.log, expected);
}

// The archives of older versions and self-extractors, tested by the back end
// directly (start-up recognises a RAR only in the first 16 bytes).
TEST_F(RarRun, PeerFixturesTestCleanly) {
    const fs::path fixtures = RarFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
    for (const char* name :
         {"Rar15.rar", "Rar2.rar", "Rar4.rar", "Rar5.rar", "Rar.solid.rar", "Rar5.solid.rar",
          "Rar.comment.rar", "Rar5.comment.rar", "rar3-comment-plain.rar", "rar3-subdirs.rar",
          "rar3-old.rar", "testdirwithemptysubdir_1.rar", "test_read_format_rar_sfx.exe",
          "testfile.rar3.dos_sfx.exe", "testfile.rar5.wincon.sfx.exe", "rar5-crc.sfx",
          "rar15-comment.rar", "rar202-comment-nopsw.rar"}) {
        // The library tests the entries of the old packed-comment archives but
        // then fails on the comment, read as the next header.
        const bool oldComment = std::string(name).find("-comment") != std::string::npos &&
                                std::string(name).rfind("rar3", 0) != 0;
        SCOPED_TRACE(name);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        FrontState& state = frontEnd.State();
        state.ArchivePath = platform::ToWindowsPath((fixtures / name).string());
        state.ArchiveFormat = "RAR";
        state.DestFolder = platform::ToWindowsPath(dir_.Path().string()) + "\\";
        state.Mode = kModeTest;
        frontEnd.RunOperation();
        if (oldComment)
            EXPECT_EQ(view.log, (std::vector<LogRow>{{name, "FILE2.TXT", "File header broken"}}));
        else
            EXPECT_TRUE(view.log.empty()) << view.log[0].file << ": " << view.log[0].error;
        EXPECT_GT(view.fileLabels.size(), 1u);
    }
    EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

TEST_F(RarRun, OldStyleVolumeSetExtractsAcrossItsVolumes) {
    const fs::path fixtures = RarFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
    DVL_REQUIRE_TOOL("unrar");
    const fs::path set = dir_ / "set";
    fs::create_directories(set);
    for (const char* v : {"Rar2.multi.rar", "Rar2.multi.r00", "Rar2.multi.r01", "Rar2.multi.r02",
                          "Rar2.multi.r03", "Rar2.multi.r04", "Rar2.multi.r05"})
        fs::copy_file(fixtures / v, set / v);
    Start(set / "Rar2.multi.rar", "/d");
    EXPECT_TRUE(view_.log.empty()) << view_.log[0].error;
    // Six volume changes counted against the seven files named Rar2.multi.*.
    EXPECT_EQ(view_.volumeBar.back(), (std::pair<int, int>{6, 7}));
    const std::string listing =
        dvl::test::RunAndCapture("cd " + Quote(set) + " && unrar lb Rar2.multi.rar");
    int files = 0;
    for (size_t start = 0; start < listing.size();) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string entry = listing.substr(start, end - start);
        start = end + 1;
        if (entry.empty() || fs::is_directory(set / "Rar2.multi" / entry)) continue;
        SCOPED_TRACE(entry);
        EXPECT_EQ(ReadText(set / "Rar2.multi" / entry), UnrarP(set / "Rar2.multi.rar", entry));
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST_F(RarRun, WideNamesComeOutAsUtf8WhateverTheLocale) {
    const fs::path fixtures = RarFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "peer fixtures are absent";
    DVL_REQUIRE_TOOL("unrar");
    const std::string expected = dvl::test::RunAndCapture("LC_ALL=C.UTF-8 unrar lb -v " +
                                                          Quote(fixtures / "Rar2.multi.rar"));
    Start(fixtures / "Rar2.multi.rar", "/l");
    std::string names;
    bool nonAscii = false;
    for (const OtherListRow& row : view_.otherRows) {
        EXPECT_FALSE(row[1].empty());
        for (unsigned char c : row[1])
            nonAscii = nonAscii || c >= 0x80;
        EXPECT_NE(expected.find(row[1]), std::string::npos) << row[1];
    }
    EXPECT_TRUE(nonAscii);
}

} // namespace
} // namespace dvl::dvl2

namespace dvl::dvl2 {
namespace {

// The built dvl2 program under the offscreen platform.
class RarProgram : public ::testing::Test {
protected:
    void SetUp() override {
        DVL_REQUIRE_TOOL("rar");
        fs::create_directories(dir_ / "src" / "sub");
        WriteFile(dir_ / "src" / "a.txt", "alpha");
        WriteFile(dir_ / "src" / "sub" / "b.bin", Noise(300000, 9));
        ASSERT_EQ(dvl::test::Run("rar a -idq -r " + Quote(dir_ / "data.rar") + " '*' >/dev/null",
                                 dir_ / "src"),
                  0);
        fs::create_directories(dir_ / "xdg");
        fs::permissions(dir_ / "xdg", fs::perms::owner_all);
    }
    int Dvl2(const std::string& args, int seconds = 60) {
        return dvl::test::Run("QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + Quote(dir_ / "xdg") +
                              " timeout " + std::to_string(seconds) + " " +
                              Quote(fs::path(DVL_BIN_DIR) / "dvl2") + " " + args +
                              " >/dev/null 2>&1");
    }
    TempDir dir_;
};

TEST_F(RarProgram, ExtractsHereTestsAndListsUntilClosed) {
    ASSERT_EQ(Dvl2(Quote(dir_ / "data.rar") + " /d"), 0);
    EXPECT_EQ(ReadText(dir_ / "data" / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir_ / "data" / "sub" / "b.bin"), ReadFile(dir_ / "src" / "sub" / "b.bin"));

    fs::remove_all(dir_ / "src");
    ASSERT_EQ(Dvl2(Quote(dir_ / "data.rar") + " /h"), 0);
    EXPECT_EQ(ReadText(dir_ / "a.txt"), "alpha");

    fs::remove_all(dir_ / "data");
    fs::remove_all(dir_ / "sub");
    fs::remove(dir_ / "a.txt");
    // Testing ends by itself and writes nothing; listing keeps the window
    // open until it is closed (here: by the time limit).
    ASSERT_EQ(Dvl2(Quote(dir_ / "data.rar") + " /t"), 0);
    EXPECT_EQ(Dvl2(Quote(dir_ / "data.rar") + " /l", 3), 124);
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
}

} // namespace
} // namespace dvl::dvl2
