// Format tags from the first 16 bytes, the volume count and the name rules.
#include "dvl2/core/detect.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::dvl2 {
namespace {

using dvl::test::TempDir;
using dvl::test::WriteFile;

std::string Win(const std::filesystem::path& p) {
    return platform::ToWindowsPath(p.string());
}

TEST(DetectFormat, DecidesByTheLastTestThatSucceeds) {
    struct Case {
        std::string head, expected;
    };
    const Case cases[] = {
        {"Rar!\x1a\x07\x00", "RAR"},
        {"Space is big", "ACE"}, // "ace" in any letter case
        {"**ACE**", "ACE"},
        {"Rar!..PK..", "ZIP"}, // the later test wins
        {"PK", "ZIP"},         // short file, padded with 26
        {std::string("\x60\xEA\x01", 3), "ARJ"},
        {std::string("PK\x60\xEA", 4), "ARJ"},
        {"\x10\x20-lh5-", "LHA"},
        {"\x10\x20-LH5-", ""}, // only lower case counts
        {"ACE-lh0-", "LHA"},
        {"hello world", ""},
        {"", ""},
        {"0123456789abcdefPK", ""},          // beyond the first 16 bytes
        {std::string("\0\0\0PK", 5), "ZIP"}, // zero bytes take part like others
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir / "f", c.head);
        EXPECT_EQ(DetectFormat(Win(dir / "f")), c.expected) << "head: " << c.head;
        EXPECT_EQ(DetectFormatOfHead(c.head), c.expected) << "head: " << c.head;
    }
}

TEST(DetectFormat, UnreadableFileGivesTheSystemMessage) {
    TempDir dir;
    std::string message;
    EXPECT_EQ(DetectFormat(Win(dir / "missing.zip"), &message), std::nullopt);
    EXPECT_FALSE(message.empty());
}

TEST(NameRules, BackslashNameAndSiblingMask) {
    EXPECT_EQ(WithBackslash(""), "\\");
    EXPECT_EQ(WithBackslash("C:\\in"), "C:\\in\\");
    EXPECT_EQ(WithBackslash("C:\\in\\"), "C:\\in\\");
    EXPECT_EQ(NameWithoutLast4("docs.zip"), "docs");
    EXPECT_EQ(NameWithoutLast4("abcd"), "");
    EXPECT_EQ(NameWithoutLast4("abc"), "");
    EXPECT_EQ(SiblingMask("disk1.zip"), "dis*.zip");
    EXPECT_EQ(SiblingMask("a.zip"), "a.z*.zip");
}

TEST(CountVolumes, CountsPlainVisibleFilesOfTheNameAndEntersTheFolder) {
    TempDir dir;
    for (const char* name : {"data.rar", "data.r00", "DATA.R01", "data", "datax.rar", ".data.r02"})
        WriteFile(dir / name, "x");
    std::filesystem::create_directory(dir / "data.dir");
    const std::filesystem::path before = std::filesystem::current_path();
    // "data.*" also finds "data", as a directory search does; folders and
    // hidden files are left out.
    EXPECT_EQ(CountVolumes(Win(dir.Path()) + "\\", "data.rar"), 4);
    EXPECT_EQ(std::filesystem::current_path(), dir.Path());
    std::filesystem::current_path(before);
    EXPECT_EQ(ListPlainFiles(Win(dir.Path()), "*.r*"),
              (std::vector<std::string>{"data.r00", "DATA.R01", "data.rar", "datax.rar"}));
}

} // namespace
} // namespace dvl::dvl2
