#include "platform/profile.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using dvl::test::ReadText;
using test::TempDir;

std::string Win(const fs::path& path) {
    return ToWindowsPath(path.string());
}

TEST(Profile, ReadsAreBoundedByTheBuffer) {
    TempDir temp;
    test::WriteFile(temp / "a.ini", std::string("[S]\nkey = abcdef \n"));
    struct Case {
        const char* key;
        size_t bufferSize;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"key", 1, ""},         {"key", 4, "abc"},    {"key", 7, "abcdef"},
        {"key", 100, "abcdef"}, {"missing", 3, "de"}, {"missing", 100, "default"},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(c.bufferSize + 1, 'X');
        size_t copied = GetPrivateProfileString("S", c.key, "default", buffer.data(), c.bufferSize,
                                                Win(temp / "a.ini"));
        EXPECT_STREQ(buffer.data(), c.expected) << c.key << " " << c.bufferSize;
        EXPECT_EQ(copied, std::strlen(c.expected));
        EXPECT_EQ(buffer[c.bufferSize], 'X') << "written past the buffer";
    }
    char untouched = 'X';
    EXPECT_EQ(GetPrivateProfileString("S", "key", "", &untouched, 0, Win(temp / "a.ini")), 0u);
    EXPECT_EQ(untouched, 'X');
    EXPECT_EQ(ReadPrivateProfileString("S", "key", "", 1024, Win(temp / "a.ini")), "abcdef");
}

TEST(Profile, SectionsAndKeysIgnoreCase) {
    TempDir temp;
    test::WriteFile(temp / "a.ini",
                    std::string("[Settings]\nFileTypes=ZIP;\n[settings]\nfiletypes=second\n"));
    const std::string ini = Win(temp / "a.ini");
    for (auto [section, key] : std::vector<std::pair<const char*, const char*>>{
             {"SETTINGS", "FILETYPES"}, {"settings", "filetypes"}, {"Settings", "FileTypes"}})
        EXPECT_EQ(ReadPrivateProfileString(section, key, "", 1024, ini), "ZIP;");
    WritePrivateProfileString("SETTINGS", "FILETYPES", "RAR;", ini);
    EXPECT_EQ(ReadText(temp / "a.ini"),
              "[Settings]\nFileTypes=RAR;\n[settings]\nfiletypes=second\n");
}

TEST(Profile, AWriteChangesOneLineAndKeepsEverythingElse) {
    TempDir temp;
    const std::string original = "; written by hand\r\n"
                                 "[Other]\r\n"
                                 "Keep = this value \r\n"
                                 "\r\n"
                                 "[SETTINGS]\r\n"
                                 "# a comment = not a key\r\n"
                                 "FILETYPES=ZIP;\r\n"
                                 "\r\n"
                                 "[Last]\r\n"
                                 "x=1";
    test::WriteFile(temp / "a.ini", original);
    const std::string ini = Win(temp / "a.ini");
    WritePrivateProfileString("settings", "filetypes", "ZIP;RAR;", ini);
    WritePrivateProfileString("SETTINGS", "ACTIONS", "AB", ini);
    WritePrivateProfileString("New", "Key", "two\nlines", ini);
    EXPECT_EQ(ReadText(temp / "a.ini"), "; written by hand\r\n"
                                        "[Other]\r\n"
                                        "Keep = this value \r\n"
                                        "\r\n"
                                        "[SETTINGS]\r\n"
                                        "# a comment = not a key\r\n"
                                        "FILETYPES=ZIP;RAR;\r\n"
                                        "ACTIONS=AB\r\n"
                                        "\r\n"
                                        "[Last]\r\n"
                                        "x=1\r\n"
                                        "[New]\r\n"
                                        "Key=two lines\r\n");
    EXPECT_EQ(ReadPrivateProfileString("Other", "keep", "", 1024, ini), "this value");
    EXPECT_EQ(ReadPrivateProfileString("SETTINGS", "# a comment", "none", 1024, ini), "none");

    DeletePrivateProfileKey("SETTINGS", "filetypes", ini);
    DeletePrivateProfileKey("SETTINGS", "never there", ini);
    EXPECT_EQ(GetPrivateProfileSection("settings", ini),
              (std::vector<std::pair<std::string, std::string>>{{"ACTIONS", "AB"}}));
}

TEST(Profile, ValuesReadBackAsWritten) {
    TempDir temp;
    const std::string ini = Win(temp / "a.ini");
    for (const char* value :
         {"", " 7Z;RAR;", "trailing ", "  ", "\"quoted\"", "'single'", "a\"b", "\"", "x=y;z"}) {
        WritePrivateProfileString("S", "k", value, ini);
        EXPECT_EQ(ReadPrivateProfileString("S", "k", "none", 1024, ini), value) << value;
    }
    test::WriteFile(temp / "a.ini", std::string("[S]\nk = \"spaced out\" \n"));
    EXPECT_EQ(ReadPrivateProfileString("S", "k", "", 1024, ini), "spaced out");
}

TEST(Profile, AMissingFileReadsAsEmptyAndIsCreatedByTheFirstWrite) {
    TempDir temp;
    const std::string ini = Win(temp / "dvl2cfg.ini");
    EXPECT_EQ(ReadPrivateProfileString("SETTINGS", "FILETYPES", "", 1024, ini), "");
    EXPECT_TRUE(GetPrivateProfileSection("SETTINGS", ini).empty());
    DeletePrivateProfileKey("SETTINGS", "FILETYPES", ini);
    EXPECT_FALSE(fs::exists(temp / "dvl2cfg.ini"));
    WritePrivateProfileString("SETTINGS", "FILETYPES", "", ini);
    EXPECT_EQ(ReadText(temp / "dvl2cfg.ini"), "[SETTINGS]\nFILETYPES=\n");
    EXPECT_EQ(std::vector<std::string>{"dvl2cfg.ini"}, [&] {
        std::vector<std::string> names; // no temporary file stays behind
        for (const auto& entry : fs::directory_iterator(temp.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }());
}

TEST(Profile, WritesThatCantBeStoredFailWithTheFilesPath) {
    TempDir temp;
    fs::create_directories(temp / "folder.ini");
    test::WriteFile(temp / "a.ini", std::string("[S]\nk=v\n"));
    struct Case {
        fs::path file;
        const char* section;
        const char* key;
    };
    const std::vector<Case> cases = {
        {temp / "missing folder/dvl2cfg.ini", "S", "k"},
        {temp / "folder.ini", "S", "k"}, // a folder: can't be read nor replaced
        {temp / "a.ini", "S", "key=with equals"},
        {temp / "a.ini", "S]", "k"},
        {temp / "a.ini", "", "k"},
    };
    for (const Case& c : cases) {
        try {
            WritePrivateProfileString(c.section, c.key, "x", Win(c.file));
            ADD_FAILURE() << "no error for " << c.file << " " << c.key;
        } catch (const ProfileError& error) {
            EXPECT_EQ(error.what(), "Unable to write to " + c.file.string());
        }
    }
    EXPECT_EQ(ReadText(temp / "a.ini"), "[S]\nk=v\n");
    EXPECT_TRUE(fs::is_directory(temp / "folder.ini"));
}

TEST(Profile, AWriteThroughASymbolicLinkReplacesTheFileItNames) {
    TempDir temp;
    fs::create_directories(temp / "dotfiles");
    test::WriteFile(temp / "dotfiles/mimeapps.list", std::string("[Default Applications]\n"));
    fs::create_symlink(temp / "dotfiles/mimeapps.list", temp / "mimeapps.list");
    WritePrivateProfileString("Default Applications", "text/plain", "editor.desktop;",
                              Win(temp / "mimeapps.list"));
    EXPECT_TRUE(fs::is_symlink(temp / "mimeapps.list"));
    EXPECT_EQ(ReadText(temp / "dotfiles/mimeapps.list"),
              "[Default Applications]\ntext/plain=editor.desktop;\n");
}

} // namespace
} // namespace dvl::platform
