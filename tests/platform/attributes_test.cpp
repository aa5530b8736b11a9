#include "platform/attributes.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

std::string Win(const fs::path& p) {
    return ToWindowsPath(p.string());
}

mode_t ModeOf(const fs::path& p) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return mode_t(-1);
    return st.st_mode & 07777;
}

TEST(AttributesGet, MapsModeNameAndType) {
    TempDir dir;
    WriteFile(dir / "Plain.txt", "x");
    WriteFile(dir / "locked", "x");
    chmod((dir / "locked").c_str(), 0444);
    WriteFile(dir / ".profile", "x");
    fs::create_directory(dir / "Folder");
    fs::create_directory(dir / ".git");

    struct Case {
        const char* name;
        std::optional<uint32_t> attr;
    } cases[] = {
        {"PLAIN.TXT", kAttrArchive},
        {"locked", kAttrArchive | kAttrReadOnly},
        {".PROFILE", kAttrArchive | kAttrHidden},
        {"folder", kAttrDirectory},
        {".git", kAttrDirectory | kAttrHidden},
        {"missing", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetFileAttributes(Win(dir / c.name)), c.attr) << c.name;
    EXPECT_EQ(GetFileAttributes(Win(dir / "folder") + "\\"), kAttrDirectory);
    EXPECT_EQ(GetFileAttributes(""), std::nullopt);
}

TEST(AttributesApply, ReadOnlyBitAndUnixMode) {
    struct Case {
        mode_t before;
        uint32_t external;
        mode_t after;
    } cases[] = {
        {0644, 0x20, 0644},                    // archive bit only: unchanged
        {0644, 0x21, 0444},                    // read-only clears every write bit
        {0666, 0x01, 0444},                    //
        {0444, 0x20, 0644},                    // not read-only: owner may write
        {0600, 0100755u << 16, 0755},          // Unix mode of a regular file
        {0600, (0100640u << 16) | 0x20, 0640}, //
        {0644, (0100775u << 16) | 0x01, 0555}, // read-only still wins
        {0644, (0104755u << 16), 0755},        // no set-id bits
        {0644, (0107777u << 16), 0777},        //
        {0444, (0120777u << 16), 0644},        // symlink mode: not applied
        {0644, (0040700u << 16) | 0x10, 0644}, // folder mode: not applied
        {0640, 0x00200000u, 0640},             // no file type in the high bits
    };
    TempDir dir;
    for (const Case& c : cases) {
        const fs::path file = dir / "f";
        WriteFile(file, "x");
        chmod(file.c_str(), c.before);
        EXPECT_TRUE(ApplyExternalAttributes(Win(dir / "F"), c.external)) << std::hex << c.external;
        EXPECT_EQ(ModeOf(file), c.after) << std::oct << c.before << " " << std::hex << c.external;
        chmod(file.c_str(), 0600);
        fs::remove(file);
    }
}

TEST(AttributesApply, NeverFollowsLinksOrCreates) {
    TempDir dir;
    WriteFile(dir / "target", "x");
    chmod((dir / "target").c_str(), 0644);
    fs::create_symlink(dir / "target", dir / "link");
    fs::create_directory(dir / "folder");
    chmod((dir / "folder").c_str(), 0755);

    EXPECT_FALSE(ApplyExternalAttributes(Win(dir / "link"), 0100777u << 16 | 0x01));
    EXPECT_EQ(ModeOf(dir / "target"), 0644u);
    EXPECT_FALSE(ApplyExternalAttributes(Win(dir / "missing"), 0x01));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    // A folder stays writable so that extraction can go on below it.
    EXPECT_TRUE(ApplyExternalAttributes(Win(dir / "folder"), 0x11));
    EXPECT_EQ(ModeOf(dir / "folder"), 0755u);
}

TEST(AttributesApply, WorksWithoutReadPermission) {
    TempDir dir;
    WriteFile(dir / "secret", "x");
    chmod((dir / "secret").c_str(), 0200);
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    EXPECT_TRUE(ApplyExternalAttributes(Win(dir / "secret"), 0100600u << 16));
    EXPECT_EQ(ModeOf(dir / "secret"), 0600u);
}

} // namespace
} // namespace dvl::platform
