// "Extract to.." rules and the cell texts of the lists.
#include "dvl2/core/dialogs_logic.h"
#include "dvl2/core/list_rows.h"
#include "tests/dvl2/harness.h"

#include "archive/dates.h"
#include "archive/zip_common.h"
#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::dvl2 {
namespace {

namespace fs = std::filesystem;
using dvl::test::TempDir;
using test::MessageBoxes;

std::string Win(const fs::path& p) {
    return platform::ToWindowsPath(p.string());
}

TEST(NewFolder, ProposesTheArchiveNameAndCreatesOneFolder) {
    TempDir dir;
    MessageBoxes boxes;
    std::string proposed;
    const auto created = CreateNewFolder("C:\\in\\docs.zip", Win(dir.Path()),
                                         [&](const std::string& p) -> std::optional<std::string> {
                                             proposed = p;
                                             return p;
                                         });
    EXPECT_EQ(proposed, "docs");
    EXPECT_EQ(created, Win(dir / "docs"));
    EXPECT_TRUE(fs::is_directory(dir / "docs"));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(NewFolder, FailuresWarnAndCancelDoesNothing) {
    TempDir dir;
    fs::create_directory(dir / "taken");
    struct Case {
        std::optional<std::string> answer;
        bool warns;
    };
    const Case cases[] = {
        {std::nullopt, false}, {"taken", true}, {"", true},
        {"a/b", true},         {"..", true},    {"missing\\deeper", true},
    };
    for (const Case& c : cases) {
        MessageBoxes boxes;
        const auto created = CreateNewFolder("C:\\in\\taken.zip", Win(dir.Path()),
                                             [&](const std::string&) { return c.answer; });
        EXPECT_EQ(created, std::nullopt);
        ASSERT_EQ(boxes.shown.size(), c.warns ? 1u : 0u) << c.answer.value_or("(cancel)");
        if (c.warns) {
            EXPECT_EQ(boxes.shown[0].caption, "Warning");
            EXPECT_EQ(boxes.shown[0].text, "Cannot create directory");
            EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::Warning);
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(SelectedFolder, KeepsNoTrailingBackslashExceptAtARoot) {
    EXPECT_EQ(SelectedFolderResult("\\home\\me\\"), "\\home\\me");
    EXPECT_EQ(SelectedFolderResult("\\home\\me"), "\\home\\me");
    EXPECT_EQ(SelectedFolderResult("\\"), "\\");
    EXPECT_EQ(SelectedFolderResult("C:\\"), "C:\\");
}

TEST(ListRows, DateUsesTwoDigitFieldsAndTheSeparator) {
    struct Case {
        uint32_t dos; // time in the low word
        std::string separator, expected;
    };
    auto dos = [](int y, int mo, int d, int h, int mi, int s) {
        return uint32_t(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) |
                        (s / 2));
    };
    const Case cases[] = {
        {dos(1999, 12, 31, 23, 59, 58), "/", "12/31/99 23:59"},
        {dos(2025, 1, 1, 9, 35, 20), "/", "01/01/25 09:35"},
        {dos(2000, 2, 29, 0, 0, 0), "-", "02-29-00 00:00"},
        {0, ".", "01.01.80 00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatListDate(DosDateTimeToDateValue(c.dos), c.separator), c.expected);
}

TEST(ListRows, ZipRowTakesTheNameWithoutFolders) {
    TZipCommon entry(nullptr);
    entry.FileName = "docs\\old\\readme.txt";
    entry.FileDate = DosDateTimeToDateValue(0x5A214C6A);
    entry.PackedSize = 4000000000;
    entry.UnpackedSize = 4100000000;
    entry.Ratio = 3;
    EXPECT_EQ(MakeZipListRow(entry, "/"),
              (ZipListRow{"readme.txt", "01/01/25 09:35", "4000000000", "4100000000", "3%"}));
}

TEST(ListRows, OtherRowTakesTheLabelsAndTheSignedSize) {
    EXPECT_EQ(MakeOtherListRow("set.r00", "dir\\a.txt", -1),
              (OtherListRow{"set.r00", "dir\\a.txt", "-1"}));
}

} // namespace
} // namespace dvl::dvl2
