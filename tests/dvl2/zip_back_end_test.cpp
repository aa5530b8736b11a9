// Whole ZIP runs on real archives: the start-up sequence, the first paint's
// operation and its end, with the dialogs answered by a script.
#include "dvl2/core/front_end.h"
#include "tests/dvl2/harness.h"

#include "archive/errors.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::Quote;
using dvl::test::ReadFile;
using dvl::test::ReadText;
using dvl::test::TempDir;
using dvl::test::WriteFile;
using platform::MessageResult;
using test::LogRow;
using test::MessageBoxes;
using test::ScriptedView;
using Button = ZipOptionsAnswer::Button;

class ZipRun : public ::testing::Test {
protected:
    void SetUp() override { DVL_REQUIRE_TOOL("zip"); }
    void TearDown() override { fs::current_path(cwd_); }

    // Makes dir/<archive> with zip from the given files (name -> content),
    // all dated 1999-12-31 23:59.
    void MakeZip(const std::string& archive, const std::map<std::string, std::string>& files) {
        const fs::path src = dir_ / ("src-" + archive);
        std::string names;
        for (const auto& [name, content] : files) {
            fs::create_directories((src / name).parent_path());
            WriteFile(src / name, content);
            ASSERT_EQ(dvl::test::Run("touch -t 199912312359 " + Quote(src / name)), 0);
            names += " " + Quote(name);
        }
        ASSERT_EQ(dvl::test::Run("zip -qX " + Quote(dir_ / archive) + names, src), 0);
        fs::remove_all(src);
    }

    // Start-up on dir/<archive> with the switch, then the operation.
    void Start(const std::string& archive, const std::string& sw) {
        frontEnd_.FormShow((dir_ / archive).string(), sw);
        ASSERT_TRUE(frontEnd_.TakeStartPending());
        frontEnd_.RunOperation();
    }

    ZipOptionsAnswer Answer(Button button, bool all, const std::string& match,
                            const std::string& mask = "*.*") {
        return {button, all, match, mask};
    }

    fs::path cwd_ = fs::current_path();
    TempDir dir_;
    MessageBoxes boxes_;
    ScriptedView view_;
    FrontEnd frontEnd_{view_};
};

// dvl2 writes the names dvl shows: UTF-8 where the archive says so, legacy
// names in the code page the detector finds.
TEST_F(ZipRun, NamesAsTheArchiveWritesThem) {
    dvl::test::ZipWriter w;
    w.Add({.name = "\xAF\xE0\xA8\xA2\xA5\xE2.txt", .data = dvl::test::Bytes("ru")});
    w.Add({.name = "\x84\xAE\xAA\xE3\xAC\xA5\xAD\xE2\xEB/a.txt", .data = dvl::test::Bytes("a")});
    w.Add({.name = "Grüße.txt", .data = dvl::test::Bytes("de"), .flags = 0x0800});
    WriteFile(dir_ / "names.zip", w.Build());
    Start("names.zip", "/d");
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(ReadText(dir_ / "names" / "привет.txt"), "ru");
    EXPECT_EQ(ReadText(dir_ / "names" / "Документы" / "a.txt"), "a");
    EXPECT_EQ(ReadText(dir_ / "names" / "Grüße.txt"), "de");
}

TEST_F(ZipRun, OnlyArchiveExtractsEverythingWithoutADialog) {
    MakeZip("data.zip", {{"a.txt", "alpha"}, {"sub/b.txt", "beta"}});
    Start("data.zip", "/d");
    EXPECT_EQ(ReadText(dir_ / "data" / "a.txt"), "alpha");
    EXPECT_EQ(ReadText(dir_ / "data" / "sub" / "b.txt"), "beta");
    EXPECT_TRUE(view_.zipOptionsShownWith.empty());
    EXPECT_EQ(view_.archiveLabels, (std::vector<std::string>{"", "data.zip"}));
    EXPECT_EQ(view_.fileLabels.back(), "b.txt");
    EXPECT_EQ(view_.entryBar.back(), 100);
    EXPECT_TRUE(view_.log.empty());
    EXPECT_TRUE(view_.logShownWith.empty());
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(ZipRun, AllMatchingSiblingsAreExtractedInNameOrderIntoOneFolder) {
    MakeZip("disk2.zip", {{"c.txt", "c"}, {"same.txt", "two"}});
    MakeZip("disk1.zip", {{"a.txt", "a"}, {"same.txt", "one"}});
    view_.zipOptionsAnswer = [&](const std::string& match) {
        return Answer(Button::Ok, true, match);
    };
    Start("disk1.zip", "/d");
    EXPECT_EQ(view_.zipOptionsShownWith, std::vector<std::string>{"dis*.zip"});
    EXPECT_EQ(view_.archiveLabels, (std::vector<std::string>{"", "disk1.zip", "disk2.zip"}));
    const fs::path out = dir_ / "disk1";
    EXPECT_EQ(ReadText(out / "a.txt"), "a");
    EXPECT_EQ(ReadText(out / "c.txt"), "c");
    EXPECT_EQ(ReadText(out / "same.txt"), "two"); // disk2 came second
    const std::vector<std::pair<int, int>> tail(view_.volumeBar.end() - 3, view_.volumeBar.end());
    EXPECT_EQ(tail, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
    EXPECT_TRUE(view_.log.empty());
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(ZipRun, UntickedBoxExtractsTheNamedArchiveWithTheMask) {
    MakeZip("disk1.zip", {{"a.txt", "a"}, {"b.dat", "b"}, {"d/e.txt", "e"}});
    MakeZip("disk2.zip", {{"c.txt", "c"}});
    view_.zipOptionsAnswer = [&](const std::string& match) {
        return Answer(Button::Ok, false, match, "*.txt");
    };
    Start("disk1.zip", "/d");
    const fs::path out = dir_ / "disk1";
    EXPECT_TRUE(fs::exists(out / "a.txt"));
    EXPECT_TRUE(fs::exists(out / "d" / "e.txt"));
    EXPECT_FALSE(fs::exists(out / "b.dat"));
    EXPECT_FALSE(fs::exists(out / "c.txt"));
    EXPECT_EQ(frontEnd_.State().FileSpec, "*.txt");
}

TEST_F(ZipRun, DialogEndingsThatExtractNothingOrTheNamedArchiveAlone) {
    struct Case {
        ZipOptionsAnswer answer;
        bool disk1Extracted;
    };
    const Case cases[] = {
        {{Button::Ok, true, "zzz*.zip", "*.*"}, false}, // matches nothing: silent end
        {{Button::Cancel, true, "dis*.zip", "*.*"}, false},
        {{Button::Closed, true, "dis*.zip", "*.txt"}, true}, // nothing set: "*.*", alone
    };
    MakeZip("disk1.zip", {{"a.dat", "a"}});
    MakeZip("disk2.zip", {{"c.txt", "c"}});
    for (const Case& c : cases) {
        TempDir out;
        MessageBoxes boxes;
        ScriptedView view;
        view.zipOptionsAnswer = [&](const std::string&) { return c.answer; };
        view.extractToAnswer = platform::ToWindowsPath(out.Path().string());
        FrontEnd frontEnd(view);
        frontEnd.FormShow((dir_ / "disk1.zip").string(), "/n");
        ASSERT_TRUE(frontEnd.TakeStartPending());
        frontEnd.RunOperation();
        EXPECT_EQ(view.zipOptionsShownWith, std::vector<std::string>{"dis*.zip"});
        EXPECT_EQ(fs::exists(out / "a.dat"), c.disk1Extracted);
        EXPECT_FALSE(fs::exists(out / "c.txt"));
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_TRUE(view.log.empty());
        EXPECT_TRUE(platform::Terminated());
    }
}

TEST_F(ZipRun, ConfirmedCancelFinishesTheCurrentArchiveAndStartsNoOther) {
    MakeZip("part1.zip", {{"p1a.txt", std::string(100000, 'a')}, {"p1b.txt", "b"}});
    MakeZip("part2.zip", {{"p2.txt", "2"}});
    MakeZip("part3.zip", {{"p3.txt", "3"}});
    view_.zipOptionsAnswer = [&](const std::string& match) {
        return Answer(Button::Ok, true, match);
    };
    bool asked = false;
    view_.onProgress = [&] {
        if (asked) return;
        asked = true;
        boxes_.answers.push_back(MessageResult::Yes);
        frontEnd_.CancelClick();
    };
    Start("part1.zip", "/d");
    const fs::path out = dir_ / "part1";
    EXPECT_EQ(ReadText(out / "p1a.txt").size(), 100000u);
    EXPECT_TRUE(fs::exists(out / "p1b.txt"));
    EXPECT_FALSE(fs::exists(out / "p2.txt"));
    EXPECT_FALSE(fs::exists(out / "p3.txt"));
    EXPECT_EQ(view_.archiveLabels, (std::vector<std::string>{"", "part1.zip"}));
    EXPECT_EQ(view_.volumeBar.back(), std::make_pair(1, 3));
    EXPECT_TRUE(frontEnd_.State().CancelRequested);
    EXPECT_TRUE(view_.logShownWith.empty());
}

TEST_F(ZipRun, CrcFailureAddsARowAndTheRunGoesOn) {
    dvl::test::ZipWriter writer;
    writer.Add({.name = "bad.txt", .data = {'b', 'a', 'd'}, .crcOverride = 0x12345678});
    writer.Add({.name = "good.txt", .data = {'o', 'k'}});
    WriteFile(dir_ / "crc.zip", writer.Build());
    Start("crc.zip", "/d");
    ASSERT_EQ(view_.log.size(), 1u);
    EXPECT_EQ(view_.log[0].archive, "crc.zip");
    EXPECT_NE(view_.log[0].file.find("bad.txt"), std::string::npos);
    EXPECT_EQ(view_.log[0].error, std::to_string(kErrFailsCrc));
    EXPECT_EQ(ReadText(dir_ / "crc" / "good.txt"), "ok");
    EXPECT_EQ(view_.logShownWith, std::vector<std::string>{"Error log.."});
    EXPECT_TRUE(platform::Terminated());
}

TEST_F(ZipRun, EncryptedEntryIsPassedOverWithoutAQuestion) {
    const fs::path src = dir_ / "src";
    fs::create_directories(src);
    WriteFile(src / "secret.txt", "hidden words");
    WriteFile(src / "plain.txt", "open words");
    ASSERT_EQ(dvl::test::Run("zip -qX -P pw " + Quote(dir_ / "mixed.zip") + " secret.txt", src), 0);
    ASSERT_EQ(dvl::test::Run("zip -qX " + Quote(dir_ / "mixed.zip") + " plain.txt", src), 0);
    Start("mixed.zip", "/d");
    EXPECT_EQ(ReadText(dir_ / "mixed" / "plain.txt"), "open words");
    EXPECT_FALSE(fs::exists(dir_ / "mixed" / "secret.txt") &&
                 ReadText(dir_ / "mixed" / "secret.txt") == "hidden words");
    EXPECT_TRUE(boxes_.shown.empty());
    // The engine may say that the entry was passed over; nothing else fails.
    ASSERT_LE(view_.log.size(), 1u);
    for (const LogRow& row : view_.log) {
        EXPECT_EQ(row.archive, "mixed.zip");
        EXPECT_NE(row.file.find("secret.txt"), std::string::npos) << row.error;
    }
}

TEST_F(ZipRun, ListingFillsTheListAndStaysOpenUntilEscape) {
#if DVL2_HAVE_LISTER
    MakeZip("data.zip", {{"dir/a.txt", std::string(1000, 'a')}, {"b.txt", "b"}});
    Start("data.zip", "/l");
    ASSERT_EQ(view_.listRows.size(), 2u);
    const ZipListRow& a =
        view_.listRows[0].at(0) == "a.txt" ? view_.listRows[0] : view_.listRows[1];
    EXPECT_EQ(a[1], "12/31/99 23:59");
    EXPECT_EQ(a[3], "1000");
    EXPECT_EQ(a[4].back(), '%');
    EXPECT_FALSE(platform::Terminated());
    frontEnd_.KeyDown(27);
    EXPECT_TRUE(platform::Terminated());
#else
    GTEST_SKIP() << "the lister is not built into dvl_archive yet";
#endif
}

TEST_F(ZipRun, ListingThatFailsSaysSoInTheLogAndStaysOpen) {
#if DVL2_HAVE_LISTER
    WriteFile(dir_ / "fake.zip", std::string("PK\x03\x04 not really an archive"));
    Start("fake.zip", "/l");
    EXPECT_TRUE(view_.listRows.empty());
    ASSERT_EQ(view_.log.size(), 1u);
    EXPECT_EQ(view_.log[0].archive, "fake.zip");
    EXPECT_EQ(view_.logShownWith, std::vector<std::string>{"Archive listings.."});
    EXPECT_FALSE(platform::Terminated());
#else
    GTEST_SKIP() << "the lister is not built into dvl_archive yet";
#endif
}

} // namespace
} // namespace dvl::dvl2
