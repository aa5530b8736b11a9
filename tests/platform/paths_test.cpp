#include "platform/paths.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

// A native path as the Windows-form text the archive components hold, with a
// drive in front that must be dropped again.
std::string Win(const fs::path& p) {
    return "C:" + ToWindowsPath(p.string());
}

TEST(PathsSpelling, ConvertsSeparatorsAndDropsDrive) {
    struct Case {
        const char* win;
        const char* native;
    } cases[] = {
        {"a\\b\\c.txt", "a/b/c.txt"},
        {"C:\\x\\y", "/x/y"},
        {"z:rel\\f", "rel/f"},
        {"C:", ""},
        {"\\\\srv\\s", "//srv/s"},
        {"1:\\x", "1:/x"},
        {"a/b\\c", "a/b/c"},
        {"", ""},
        {"dir\\", "dir/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToNativeSpelling(c.win), c.native) << c.win;
    EXPECT_EQ(ToWindowsPath("/tmp/a/b.txt"), "\\tmp\\a\\b.txt");
    EXPECT_EQ(ToWindowsPath("rel"), "rel");
}

TEST(PathsMask, FollowsFindFirstFileRules) {
    struct Case {
        const char* name;
        const char* mask;
        bool matches;
    } cases[] = {
        {"README", "*", true},
        {"README", "*.*", true},
        {"a.b.c", "*.*", true},
        {"FILE.TXT", "*.txt", true},
        {"file.txt", "*.TXT", true},
        {"file.txt.bak", "*.txt", false},
        {"base.a01", "BASE.A??", true},
        {"base.a1", "base.a??", true}, // "?" also matches nothing before the end
        {"base.a001", "base.a??", false},
        {"ab", "?", false},
        {"a", "?", true},
        {"a.b", "a?b", false}, // "?" never matches the dot
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"foo", "foo.*", true},
        {"foo.bar", "foo.*", true},
        {"foobar", "foo.*", false},
        {"abc", "*.", true}, // a trailing dot: names without an extension
        {"abc.txt", "*.", false},
        {"abc", "abc.", true},
        {"a.tar.gz", "*.gz", true},
        {"a.tar.gz", "*.tar", false},
        {"x.arj", "*.a*", true},
        {"name", "NAME", true},
        {"name", "nam", false},
        {"naïve", "NAÏVE", false},   // only ASCII is folded
        {"naïve", "na?ve", true},    // "?" is one UTF-8 character
        {"na\xEFve", "na?ve", true}, // or one byte that is not UTF-8
        {"naïve", "na*ve", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

// Backtracking over many stars must not explode (a hang fails through the
// test timeout).
TEST(PathsMask, ManyStarsOnALongName) {
    const std::string name(250, 'a');
    EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchesMask(name + ".b", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*.b"));
}

TEST(PathsCase, ResolvesEachComponentIgnoringCase) {
    TempDir dir;
    fs::create_directories(dir / "Sub" / "Deeper");
    WriteFile(dir / "base.a01", "x");
    WriteFile(dir / "Sub" / "Deeper" / "Inner.txt", "x");
    const std::string root = dir.Path().string();

    EXPECT_EQ(ToNativePath(Win(dir / "BASE.A01")), root + "/base.a01");
    EXPECT_EQ(ToNativePath(Win(dir / "sub" / "DEEPER" / "inner.TXT")),
              root + "/Sub/Deeper/Inner.txt");
    // Components that match nothing are kept, and so is everything below them.
    EXPECT_EQ(ToNativePath(Win(dir / "SUB" / "New" / "deeper")), root + "/Sub/New/deeper");
    EXPECT_EQ(ToNativePath(Win(dir / "sub" / "")), root + "/Sub/");
    EXPECT_EQ(ToNativePath(Win(dir / "sub" / ".." / "Base.a01")), root + "/Sub/../base.a01");
}

TEST(PathsCase, PrefersTheExactSpellingThenTheFirstInByteOrder) {
    TempDir dir;
    WriteFile(dir / "a.txt", "lower");
    WriteFile(dir / "A.TXT", "upper");
    WriteFile(dir / "A.txt", "mixed");
    const std::string root = dir.Path().string();
    EXPECT_EQ(ToNativePath(Win(dir / "a.txt")), root + "/a.txt");
    EXPECT_EQ(ToNativePath(Win(dir / "A.txt")), root + "/A.txt");
    EXPECT_EQ(ToNativePath(Win(dir / "a.TXT")), root + "/A.TXT"); // 'A' < 'a'
}

TEST(PathsList, PlainFilesSortedIgnoringCase) {
    TempDir dir;
    fs::create_directory(dir / "Files");
    for (const char* name : {"b.arj", "A.ARJ", "c.txt", "README", "a.arj", ".hidden.arj"})
        WriteFile(dir / "Files" / name, "x");
    fs::create_directory(dir / "Files" / "folder.arj");
    fs::create_symlink(dir / "Files" / "b.arj", dir / "Files" / "link.arj");
    fs::create_symlink(dir / "Files" / "folder.arj", dir / "Files" / "dirlink.arj");

    const std::string folder = Win(dir / "FILES");
    using List = std::vector<std::string>;
    EXPECT_EQ(ListFiles(folder, "*.arj"),
              (List{".hidden.arj", "A.ARJ", "a.arj", "b.arj", "link.arj"}));
    EXPECT_EQ(ListFiles(folder, "*.*"),
              (List{".hidden.arj", "A.ARJ", "a.arj", "b.arj", "c.txt", "link.arj", "README"}));
    EXPECT_EQ(ListFiles(folder + "\\", "r*"), (List{"README"}));
    EXPECT_EQ(ListFiles(folder, "*.zip"), List{});
    EXPECT_EQ(ListFiles(Win(dir / "missing"), "*"), List{});
}

TEST(PathsExists, SearchesFilesAndFoldersWithMasks) {
    TempDir dir;
    fs::create_directory(dir / "Folder");
    WriteFile(dir / "base.a01", "x");

    struct Case {
        std::string path;
        bool name, file, directory;
    } cases[] = {
        {Win(dir / "BASE.A01"), true, true, false},
        {Win(dir / "base.a??"), true, false, false},
        {Win(dir / "*.A0?"), true, false, false},
        {Win(dir / "base.a02"), false, false, false},
        {Win(dir / "*.zip"), false, false, false},
        {Win(dir / "folder"), true, false, true},
        {Win(dir / "FOL*"), true, false, false},
        {Win(dir / "folder") + "\\", false, false, true},
        {Win(dir / "folder" / "*"), false, false, false}, // "." and ".." are no findings
        {Win(dir / "missing" / "*"), false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameExists(c.path), c.name) << c.path;
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.directory) << c.path;
    }
}

TEST(PathsDirectories, CreateForceAndDelete) {
    TempDir dir;
    fs::create_directory(dir / "Out");
    WriteFile(dir / "file", "x");

    EXPECT_TRUE(CreateDirectory(Win(dir / "OUT" / "one")));
    EXPECT_TRUE(fs::is_directory(dir / "Out" / "one"));
    EXPECT_TRUE(CreateDirectory(Win(dir / "out" / "ONE"))); // exists already
    EXPECT_FALSE(CreateDirectory(Win(dir / "out" / "a" / "b")));
    EXPECT_FALSE(CreateDirectory(Win(dir / "file")));

    EXPECT_TRUE(ForceDirectories(Win(dir / "OUT" / "a" / "b" / "c") + "\\"));
    EXPECT_TRUE(fs::is_directory(dir / "Out" / "a" / "b" / "c"));
    EXPECT_TRUE(ForceDirectories(Win(dir / "out" / "A")));
    EXPECT_FALSE(fs::exists(dir / "Out" / "A")); // the existing "a" was found
    EXPECT_FALSE(ForceDirectories(Win(dir / "file" / "below")));
    EXPECT_FALSE(ForceDirectories(""));

    EXPECT_TRUE(DeleteFile(Win(dir / "FILE")));
    EXPECT_FALSE(fs::exists(dir / "file"));
    EXPECT_FALSE(DeleteFile(Win(dir / "file")));
    EXPECT_FALSE(DeleteFile(Win(dir / "out" / "one")));
    EXPECT_TRUE(fs::is_directory(dir / "Out" / "one"));
}

TEST(PathsCurrentDir, SetAndGetInWindowsForm) {
    TempDir dir;
    fs::create_directory(dir / "Work");
    struct Restore {
        fs::path saved = fs::current_path();
        ~Restore() { fs::current_path(saved); }
    } restore;

    ASSERT_TRUE(SetCurrentDir(Win(dir / "WORK")));
    const fs::path expected = fs::canonical(dir / "Work");
    EXPECT_EQ(fs::current_path(), expected);
    EXPECT_EQ(GetCurrentDir(), ToWindowsPath(expected.string()));
    // Relative paths now resolve against it.
    WriteFile(expected / "Here.txt", "x");
    EXPECT_TRUE(FileExists("here.TXT"));
    EXPECT_EQ(ListFiles("", "*"), std::vector<std::string>{"Here.txt"});
    EXPECT_TRUE(NameExists("HERE.*"));
    EXPECT_FALSE(SetCurrentDir(Win(dir / "missing")));
    EXPECT_FALSE(SetCurrentDir(""));

    ASSERT_TRUE(SetCurrentDir("\\"));
    EXPECT_EQ(GetCurrentDir(), "\\");
}

} // namespace
} // namespace dvl::platform
