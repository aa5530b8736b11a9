// Whole ACE runs through the UnACE library: the peer fixtures made by the
// archivers themselves, archives written at test time and damaged copies,
// with the windows replaced by a scripted view.
#include "dvl2/core/ace_back_end.h"
#include "dvl2/core/front_end.h"
#include "tests/dvl2/harness.h"

#include "platform/paths.h"
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::AceArchiveSpec;
using dvl::test::AceMemberSpec;
using dvl::test::Bytes;
using dvl::test::Quote;
using dvl::test::ReadFile;
using dvl::test::ReadText;
using dvl::test::TempDir;
using dvl::test::WriteFile;
using test::LogRow;
using test::MessageBoxes;
using test::ScriptedView;

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = uint8_t(gen());
    return bytes;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class AceRun : public ::testing::Test {
protected:
    void TearDown() override { fs::current_path(cwd_); }

    // The ACE peer fixtures folder; empty (and the test skipped) when absent.
    fs::path Fixtures() {
        const fs::path p = dvl::test::PeerFixtures();
        return p.empty() ? p : p / "ace";
    }
    // Copies fixtures into the temporary folder, so that runs may write beside them.
    void CopyFixtures(std::initializer_list<const char*> names) {
        for (const char* name : names)
            fs::copy_file(Fixtures() / name, dir_ / fs::path(name).filename());
    }
    void MakeAce(const std::string& archive, const AceArchiveSpec& spec) {
        WriteFile(dir_ / archive, dvl::test::BuildAceArchive(spec));
    }

    // Start-up on a path with the switch, then the operation.
    void Start(const fs::path& archive, const std::string& sw) {
        frontEnd_.FormShow(archive.string(), sw);
        ASSERT_TRUE(frontEnd_.TakeStartPending());
        ASSERT_EQ(frontEnd_.State().ArchiveFormat, "ACE");
        frontEnd_.RunOperation();
    }
    // "Extract to.." answered with a folder.
    void ExtractTo(const fs::path& archive, const fs::path& dest) {
        view_.extractToAnswer = platform::ToWindowsPath(dest.string());
        Start(archive, "/n");
    }

    fs::path cwd_ = fs::current_path();
    TempDir dir_;
    MessageBoxes boxes_;
    ScriptedView view_;
    FrontEnd frontEnd_{view_};
};

#define REQUIRE_FIXTURES()                                                                         \
    do {                                                                                           \
        if (Fixtures().empty()) GTEST_SKIP() << "peer fixtures are absent";                        \
    } while (0)

// Stored, LZ77 and solid members, extracted below folders that do not exist yet.
TEST_F(AceRun, ExtractsIntoAFolderWhoseParentsDoNotExist) {
    REQUIRE_FIXTURES();
    struct Case {
        const char* archive;
        std::vector<std::pair<std::string, std::string>> files;
    } cases[] = {
        {"handmade/stored.ace", {{"hello.txt", "Hello, ACE!\r\n"}}},
        {"handmade/lz77_match.ace", {{"abc.txt", "abcabcabcabcZ"}}},
        {"handmade/lz77_rep.ace", {{"rep.txt", "abcdefghabcdabcbcbcdababbbb!"}}},
        {"handmade/solid.ace", {{"one.txt", "hello world "}, {"two.txt", "  hello world!?"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        const fs::path dest = dir_ / fs::path(c.archive).stem() / "a" / "b";
        view.extractToAnswer = platform::ToWindowsPath(dest.string());
        frontEnd.FormShow((Fixtures() / c.archive).string(), "/n");
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        for (const auto& [name, content] : c.files)
            EXPECT_EQ(ReadText(dest / name), content) << name;
        EXPECT_TRUE(view.log.empty()) << view.log[0].error;
        EXPECT_TRUE(view.logShownWith.empty());
        EXPECT_EQ(view.archiveLabels.back(), fs::path(c.archive).filename().string());
        EXPECT_EQ(view.fileLabels.back(), c.files.back().first);
        // Full for the last entry, then back to 0 at the end of the archive.
        EXPECT_EQ(view.entryBar.end()[-2], 100);
        EXPECT_EQ(view.entryBar.back(), 0);
        EXPECT_TRUE(platform::Terminated());
    }
}

TEST_F(AceRun, ListShowsStoredNamesWithFoldersAndLeavesTheWindowOpen) {
    REQUIRE_FIXTURES();
    CopyFixtures({"Ace.method1.ace"});
    Start(dir_ / "Ace.method1.ace", "/l");
    EXPECT_EQ(view_.otherRows,
              (std::vector<OtherListRow>{{"Ace.method1.ace", "exe", "0"},
                                         {"Ace.method1.ace", "exe\\test.exe", "45056"},
                                         {"Ace.method1.ace", "jpg", "0"},
                                         {"Ace.method1.ace", "jpg\\test.jpg", "40372"},
                                         {"Ace.method1.ace", "Tect.txt.txt", "15498"}}));
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);
    EXPECT_FALSE(platform::Terminated());
}

TEST_F(AceRun, TestingADamagedArchiveStopsAtTheCrcError) {
    REQUIRE_FIXTURES();
    CopyFixtures({"handmade/badcrc.ace"});
    Start(dir_ / "badcrc.ace", "/t");
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"badcrc.ace", "hello.txt", "CRC error"}}));
    EXPECT_EQ(view_.logShownWith, std::vector<std::string>{"Error log.."});
    EXPECT_FALSE(fs::exists(dir_ / "hello.txt"));
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(AceRun, AnEncryptedEntryEndsTheWalkWithItsRow) {
    REQUIRE_FIXTURES();
    struct Case {
        const char* archive;
        LogRow row;
    } cases[] = {
        {"Ace.encrypted.ace", {"Ace.encrypted.ace", "exe\\test.exe", "file is encrypted"}},
        {"passwd2.ace", {"passwd2.ace", "passwd2.m4", "file is encrypted"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.FormShow((Fixtures() / c.archive).string(), "/t");
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        EXPECT_EQ(view.log, std::vector<LogRow>{c.row});
        EXPECT_EQ(view.fileLabels.back(), c.row.file); // nothing after it was read
    }
}

// Both two-volume sets: the second volume shows in the archive label and
// moves the volume bar once; without it the callback names it.
TEST_F(AceRun, VolumeSetsAdvanceTheVolumeBarAndNameAMissingVolume) {
    REQUIRE_FIXTURES();
    struct Case {
        const char* first;
        const char* second;
        const char* splitEntry;
    } cases[] = {
        {"multivol2.ace", "multivol2.c00", "multivol2\\sdl2.m4"},
        {"Ace.store.split.ace", "Ace.store.split.c00", "jpg\\test.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        CopyFixtures({c.first, c.second});
        {
            platform::ResetTerminated();
            ScriptedView view;
            FrontEnd frontEnd(view);
            frontEnd.FormShow((dir_ / c.first).string(), "/t");
            ASSERT_TRUE(frontEnd.TakeStartPending());
            frontEnd.RunOperation();
            EXPECT_TRUE(view.log.empty()) << view.log[0].file << ": " << view.log[0].error;
            // The maximum counts the two files named like the first volume.
            EXPECT_EQ(view.volumeBar.back(), (std::pair<int, int>{1, 2}));
            EXPECT_TRUE(Contains(view.archiveLabels, c.second));
        }
        fs::remove(dir_ / c.second);
        platform::ResetTerminated();
        ScriptedView view;
        FrontEnd frontEnd(view);
        const fs::path dest = dir_ / "out";
        view.extractToAnswer = platform::ToWindowsPath(dest.string());
        frontEnd.FormShow((dir_ / c.first).string(), "/n");
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        EXPECT_EQ(view.log,
                  (std::vector<LogRow>{{c.second, "N/A", "Missing or corrupt archive file"},
                                       {c.first, c.splitEntry, "Read error"}}));
        EXPECT_EQ(view.volumeBar.back().first, 0);
        EXPECT_FALSE(fs::exists(dest / platform::ToNativeSpelling(c.splitEntry)));
        fs::remove_all(dest);
        fs::remove(dir_ / c.first);
    }
}

TEST_F(AceRun, ABrokenNextHeaderEndsTheWalkWithItsRow) {
    MakeAce("data.ace", {.members = {{.name = "first.txt", .data = Bytes("alpha")},
                                     {.name = "second_entry.txt", .data = Bytes("beta")},
                                     {.name = "third.txt", .data = Bytes("gamma")}}});
    std::vector<uint8_t> bytes = ReadFile(dir_ / "data.ace");
    const std::string name = "second_entry";
    const auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, bytes.end());
    at[0] ^= 0x01;
    WriteFile(dir_ / "data.ace", bytes);
    Start(dir_ / "data.ace", "/t");
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"data.ace", "first.txt", "CRC error"}}));
    EXPECT_FALSE(frontEnd_.Ace().ArchiveFailed());
}

// Entries of size 0 that the library fails on: a folder below a plain file
// and an empty file where a folder stands.
TEST_F(AceRun, FailingEmptyEntriesDoNotEndTheWalk) {
    MakeAce("data.ace", {.members = {{.name = "plain\\folder", .directory = true},
                                     {.name = "empty.txt"},
                                     {.name = "after.txt", .data = Bytes("after")}}});
    const fs::path dest = dir_ / "dest";
    fs::create_directories(dest / "empty.txt");
    WriteFile(dest / "plain", "a file where a folder would go");
    ExtractTo(dir_ / "data.ace", dest);
    EXPECT_TRUE(view_.log.empty()) << view_.log[0].file << ": " << view_.log[0].error;
    EXPECT_EQ(ReadText(dest / "after.txt"), "after");
    EXPECT_EQ(ReadText(dest / "plain"), "a file where a folder would go");
    EXPECT_TRUE(fs::is_directory(dest / "empty.txt"));
}

TEST_F(AceRun, ExtractReplacesAnExistingReadOnlyFileButDeletesNothingOutside) {
    MakeAce("data.ace", {.members = {{.name = "a.txt", .data = Bytes("new content")},
                                     {.name = "link\\keep.txt", .data = Bytes("archive")},
                                     {.name = "..\\outside.txt", .data = Bytes("archive")}}});
    const fs::path dest = dir_ / "dest";
    fs::create_directories(dest);
    WriteFile(dest / "a.txt", "old");
    fs::permissions(dest / "a.txt", fs::perms::owner_read);
    // A second link shows that the file was replaced, not written through.
    fs::create_hard_link(dest / "a.txt", dir_ / "other.txt");
    // Behind a linked folder: the library may write through the link, but the
    // file there must never be deleted (its second link shows it).
    fs::create_directories(dir_ / "elsewhere");
    WriteFile(dir_ / "elsewhere" / "keep.txt", "elsewhere");
    fs::create_hard_link(dir_ / "elsewhere" / "keep.txt", dir_ / "witness.txt");
    fs::create_directory_symlink(dir_ / "elsewhere", dest / "link");
    WriteFile(dir_ / "outside.txt", "outside");

    ExtractTo(dir_ / "data.ace", dest);
    EXPECT_EQ(ReadText(dest / "a.txt"), "new content");
    EXPECT_EQ(ReadText(dir_ / "other.txt"), "old");
    EXPECT_TRUE(fs::equivalent(dir_ / "elsewhere" / "keep.txt", dir_ / "witness.txt"));
    EXPECT_EQ(ReadText(dir_ / "outside.txt"), "outside");
    EXPECT_EQ(ReadText(dest / "outside.txt"), "archive");
}

TEST_F(AceRun, CancelBeforeTheWalkIsClearedAndCancelDuringAnEntryStopsAfterIt) {
    MakeAce("data.ace", {.members = {{.name = "big.bin", .data = Noise(3000000, 1)},
                                     {.name = "b.txt", .data = Bytes("b")}}});
    // Confirmed before the first header: the walk still runs to its end.
    frontEnd_.FormShow((dir_ / "data.ace").string(), "/h");
    ASSERT_TRUE(frontEnd_.TakeStartPending());
    frontEnd_.State().CancelRequested = true;
    platform::Terminate();
    frontEnd_.RunOperation();
    EXPECT_EQ(ReadText(dir_ / "b.txt"), "b");
    EXPECT_EQ(fs::file_size(dir_ / "big.bin"), 3000000u);
    EXPECT_TRUE(view_.logShownWith.empty());
    fs::remove(dir_ / "b.txt");
    fs::remove(dir_ / "big.bin");

    // Confirmed at the first data block: the library abandons the entry and
    // the walk ends without a row.
    platform::ResetTerminated();
    ScriptedView view;
    FrontEnd frontEnd(view);
    int blocks = 0;
    platform::SetProcessMessagesHook([&] {
        if (!view.entryBar.empty() && view.entryBar.back() > 0 && ++blocks == 1) {
            frontEnd.State().CancelRequested = true;
            platform::Terminate();
        }
    });
    frontEnd.FormShow((dir_ / "data.ace").string(), "/h");
    ASSERT_TRUE(frontEnd.TakeStartPending());
    frontEnd.RunOperation();
    platform::SetProcessMessagesHook(nullptr);
    EXPECT_EQ(blocks, 1);
    EXPECT_LT(view.entryBar.back(), 100);
    EXPECT_FALSE(fs::exists(dir_ / "b.txt"));
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(view.logShownWith.empty());
}

TEST_F(AceRun, ArchivesThatCannotBeOpened) {
    // Recognised as ACE by the letters "ace" in the first 16 bytes.
    WriteFile(dir_ / "fake.ace", "no ace archive, just text");
    Start(dir_ / "fake.ace", "/h");
    EXPECT_EQ(view_.log, (std::vector<LogRow>{{"fake.ace", "N/A", "Not a valid ACE archive.."}}));
    EXPECT_TRUE(frontEnd_.Ace().ArchiveFailed());
    EXPECT_TRUE(platform::Terminated());
}

// The archive gone between start-up and the first paint, and a destination
// that cannot be made: a message box each, no row, then the common end.
TEST_F(AceRun, MissingArchiveAndImpossibleDestinationShowTheirMessageBoxes) {
    MakeAce("data.ace", {.members = {{.name = "a.txt", .data = Bytes("a")}}});
    WriteFile(dir_ / "file", "a file, not a folder");
    struct Case {
        fs::path archive, dest;
        const char* text;
    } cases[] = {
        {dir_ / "gone.ace", dir_.Path(), "Can't find file to extract.\rProcess stopped..."},
        {dir_ / "data.ace", dir_ / "file" / "sub",
         "Can't find directory to extract.\rProcess stopped..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::ResetTerminated();
        MessageBoxes boxes;
        ScriptedView view;
        FrontEnd frontEnd(view);
        FrontState& state = frontEnd.State();
        state.ArchivePath = platform::ToWindowsPath(c.archive.string());
        state.ArchiveFormat = "ACE";
        state.DestFolder = platform::ToWindowsPath(c.dest.string());
        frontEnd.RunOperation();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].caption, "Error");
        EXPECT_EQ(boxes.shown[0].text, c.text);
        EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Error);
        EXPECT_TRUE(view.log.empty());
        EXPECT_TRUE(frontEnd.Ace().ArchiveFailed());
        EXPECT_TRUE(platform::Terminated());
    }
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
}

// The three result tables with their own wordings, the codes that show a
// message box instead, and the rows for results outside the tables.
TEST(AceErrorRows, EachTableReadsAsItsOwnTexts) {
    enum Table { Open, Process, Header };
    struct Case {
        Table table;
        int code;
        const char* text; // empty: no row
        const char* box;  // empty: no box
    } cases[] = {
        {Open, 1, "Not enough memory", ""},
        {Open, 3, "File not found", ""},
        {Open, 5, "Error opening file..", ""},
        {Open, 6, "Error reading file..", ""},
        {Open, 9, "File failed crc check, header broken..", ""},
        {Open, 128, "Not a valid ACE archive..", ""},
        {Open, 130, "", "Wrong constant"},
        {Open, 7, "Unknown error (code 7)", ""},
        {Process, 4, "Write error: disk is full", ""},
        {Process, 5, "Open file error..", ""},
        {Process, 6, "Read error", ""},
        {Process, 7, "Write error", ""},
        {Process, 9, "CRC error", ""},
        {Process, 129, "", "Invalid handle given as parameter"},
        {Process, 130, "", "Wrong constant"},
        {Process, 131, "file is encrypted", ""},
        {Process, 132, "file has been compressed with unknown method", ""},
        {Process, 1, "Not enough memory", ""},
        {Process, 133, "Process stopped", ""},
        {Header, 3, "File not found", ""},
        {Header, 5, "Open file error", ""},
        {Header, 6, "Read error", ""},
        {Header, 9, "CRC error", ""},
        {Header, 129, "Invalid handle given as parameter", ""},
        {Header, 10, "", ""},
        {Header, 128, "Unknown error (code 128)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.table) + ": " + std::to_string(c.code));
        MessageBoxes boxes;
        ScriptedView view;
        FrontEnd frontEnd(view);
        frontEnd.State().ArchivePath = "\\in\\data.ace";
        if (c.table == Open) frontEnd.Ace().ReportAceOpenError(c.code);
        if (c.table == Process) frontEnd.Ace().ReportAceProcessError(c.code);
        if (c.table == Header) frontEnd.Ace().ReportAceHeaderError(c.code);
        // Open rows name the archive; the others the (still empty) labels.
        const LogRow row =
            c.table == Open ? LogRow{"data.ace", "N/A", c.text} : LogRow{"", "", c.text};
        EXPECT_EQ(view.log, *c.text ? std::vector<LogRow>{row} : std::vector<LogRow>{});
        ASSERT_EQ(boxes.shown.size(), *c.box ? 1u : 0u);
        if (*c.box) {
            EXPECT_EQ(boxes.shown[0].text, c.box);
            EXPECT_EQ(boxes.shown[0].caption, "Error");
            EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Error);
        }
    }
}

} // namespace
} // namespace dvl::dvl2

namespace dvl::dvl2 {
namespace {

// The built dvl2 program under the offscreen platform.
TEST(AceProgram, ExtractsTestsAndListsUntilClosed) {
    TempDir dir;
    WriteFile(dir / "data.ace",
              dvl::test::BuildAceArchive(
                  {.members = {{.name = "a.txt", .data = Bytes("alpha")},
                               {.name = "sub\\b.bin", .data = Noise(300000, 9)}}}));
    fs::create_directories(dir / "xdg");
    fs::permissions(dir / "xdg", fs::perms::owner_all);
    const auto dvl2 = [&](const std::string& args, int seconds) {
        return dvl::test::Run("QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + Quote(dir / "xdg") +
                              " timeout " + std::to_string(seconds) + " " +
                              Quote(fs::path(DVL_BIN_DIR) / "dvl2") + " " + args +
                              " >/dev/null 2>&1");
    };
    ASSERT_EQ(dvl2(Quote(dir / "data.ace") + " /d", 60), 0);
    EXPECT_EQ(ReadText(dir / "data" / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir / "data" / "sub" / "b.bin"), Noise(300000, 9));
    fs::remove_all(dir / "data");
    // Testing ends by itself and writes nothing; listing keeps the window
    // open until it is closed (here: by the time limit).
    ASSERT_EQ(dvl2(Quote(dir / "data.ace") + " /t", 60), 0);
    EXPECT_EQ(dvl2(Quote(dir / "data.ace") + " /l", 3), 124);
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
    EXPECT_FALSE(fs::exists(dir / "sub"));
}

} // namespace
} // namespace dvl::dvl2
