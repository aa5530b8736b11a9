#include "platform/registry.h"

#include "tests/support/test_support.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using dvl::test::ReadText;
using test::TempDir;

std::vector<std::string> FolderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(Registry, ValuesSurviveAReloadWithTheirExactText) {
    TempDir temp;
    const std::string file = (temp / "hive/registry.txt").string();
    {
        ClassesRoot hive(file);
        hive.CreateKey("DVL.Document\\Shell\\Open\\Command"); // parents made on the way
        hive.CreateKey("\\.ZIP\\");                           // outer "\" ignored
        hive.SetValue(".ZIP", "", "DVL.Document");
        hive.SetValue("DVL.Document\\Shell", "", "");
        hive.SetValue("DVL.Document\\Shell\\Open\\Command", "", "C:\\A\\dvl2.exe \"%1\" /n");
        hive.SetValue("DVL.Document", "odd \"name\" = %", "line1\nline2\r\t%41 [x] é");
        hive.SetValue("DVL.Document", "@", "not the default");
    }
    ClassesRoot hive(file);
    const std::vector<std::pair<std::pair<std::string, std::string>, std::optional<std::string>>>
        cases = {
            {{".ZIP", ""}, "DVL.Document"},
            {{"DVL.Document\\Shell", ""}, ""},    // set empty
            {{"DVL.Document", ""}, std::nullopt}, // never set
            {{"DVL.Document\\Shell\\Open", ""}, std::nullopt},
            {{"DVL.Document\\Shell\\Open\\Command", ""}, "C:\\A\\dvl2.exe \"%1\" /n"},
            {{"DVL.Document", "odd \"name\" = %"}, "line1\nline2\r\t%41 [x] é"},
            {{"DVL.Document", "@"}, "not the default"},
            {{"DVL.Document", "missing"}, std::nullopt},
            {{"No\\Such\\Key", ""}, std::nullopt},
        };
    for (const auto& [where, expected] : cases)
        EXPECT_EQ(hive.ReadValue(where.first, where.second), expected)
            << where.first << " / " << where.second;
    EXPECT_EQ(hive.SubKeyNames(""), (std::vector<std::string>{"DVL.Document", ".ZIP"}));
    EXPECT_EQ(hive.SubKeyNames("DVL.Document\\Shell"), std::vector<std::string>{"Open"});
    // The file stays line-oriented: the value's line break is escaped.
    EXPECT_NE(ReadText(file).find("line1%0Aline2%0D%09%2541 [x] é"), std::string::npos);
}

TEST(Registry, KeyAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    TempDir temp;
    ClassesRoot hive((temp / "registry.txt").string());
    hive.CreateKey("DVL.Document\\Shell");
    hive.CreateKey("dvl.document\\SHELL\\Open");
    hive.SetValue("DVL.DOCUMENT", "Name", "first");
    hive.SetValue("dvl.document", "NAME", "second");
    for (const char* spelling : {"DVL.Document", "dvl.document", "Dvl.Document\\shell\\OPEN"})
        EXPECT_TRUE(hive.KeyExists(spelling)) << spelling;
    EXPECT_EQ(hive.ReadValue("Dvl.Document", "name"), "second");
    EXPECT_EQ(hive.SubKeyNames(""), std::vector<std::string>{"DVL.Document"});
    EXPECT_EQ(hive.SubKeyNames("DVL.Document\\Shell"), std::vector<std::string>{"Open"});
}

TEST(Registry, DeletingAKeyTakesAllItsSubkeysAndNothingElse) {
    TempDir temp;
    ClassesRoot hive((temp / "registry.txt").string());
    hive.CreateKey("DVL.Document\\Shell\\A\\Command");
    hive.SetValue("DVL.Document\\Shell\\A\\Command", "", "x");
    hive.CreateKey("DVL.Documents");
    hive.CreateKey(".ZIP");

    EXPECT_TRUE(hive.DeleteKey("dvl.document"));
    EXPECT_FALSE(hive.KeyExists("DVL.Document"));
    EXPECT_FALSE(hive.KeyExists("DVL.Document\\Shell\\A\\Command"));
    EXPECT_TRUE(hive.KeyExists("DVL.Documents"));
    EXPECT_TRUE(hive.KeyExists(".ZIP"));
    EXPECT_EQ(ReadText(temp / "registry.txt").find("Command"), std::string::npos);
    EXPECT_FALSE(hive.DeleteKey("DVL.Document"));
    EXPECT_FALSE(hive.DeleteKey(""));
    // A recreated key starts empty.
    hive.CreateKey("DVL.Document\\Shell");
    EXPECT_EQ(hive.SubKeyNames("DVL.Document\\Shell"), std::vector<std::string>{});
}

TEST(Registry, InvalidPathsAndMissingKeysFailWithTheirMessages) {
    TempDir temp;
    ClassesRoot hive((temp / "registry.txt").string());
    hive.CreateKey("Here");
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { hive.CreateKey("A\\\\B"); }, "Failed to create key A\\\\B"},
        {[&] { hive.SetValue("Missing", "Name", "x"); }, "Failed to set data for 'Name'"},
        {[&] { hive.SetValue("Missing\\Key", "", "x"); }, "Failed to set data for 'Missing\\Key'"},
        {[&] { hive.SetValue("", "Name", "x"); }, "Failed to set data for 'Name'"},
    };
    for (const auto& [call, message] : cases) {
        try {
            call();
            ADD_FAILURE() << "no error for " << message;
        } catch (const RegistryError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
    EXPECT_FALSE(hive.KeyExists("A"));
    EXPECT_FALSE(hive.KeyExists("A\\\\B"));
}

// Writes beyond the first bytes of any file fail as on a full disk; this
// holds for root too, which ignores permission bits.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(Registry, AWriteThatFailsMidwayKeepsThePreviousHiveAndLeavesNoTemporaryFile) {
    TempDir temp;
    const fs::path file = temp / "registry.txt";
    ClassesRoot hive(file.string());
    hive.CreateKey("DVL.Document\\Shell\\Open\\Command");
    hive.SetValue("DVL.Document", "", "Dovrel Archive");
    const std::string before = ReadText(file);
    ASSERT_GT(before.size(), 100u);

    std::vector<std::string> errors;
    {
        FileSizeLimit limit(100);
        hive.CreateKey("DVL.Document\\Shell"); // exists: nothing to write
        for (auto call : std::initializer_list<std::function<void()>>{
                 [&] { hive.CreateKey(".ZIP"); },
                 [&] { hive.SetValue("DVL.Document", "", "changed"); },
                 [&] { hive.SetValue("DVL.Document", "Extra", "x"); },
             }) {
            try {
                call();
            } catch (const RegistryError& error) {
                errors.push_back(error.what());
            }
        }
        EXPECT_FALSE(hive.DeleteKey("DVL.Document\\Shell\\Open\\Command"));
    }
    EXPECT_EQ(errors, (std::vector<std::string>{"Failed to create key .ZIP",
                                                "Failed to set data for 'DVL.Document'",
                                                "Failed to set data for 'Extra'"}));
    EXPECT_EQ(ReadText(file), before);
    EXPECT_EQ(FolderEntries(temp.Path()), std::vector<std::string>{"registry.txt"});
    EXPECT_TRUE(hive.KeyExists("DVL.Document\\Shell\\Open\\Command"));
}

TEST(Registry, AHiveThatCantBeWrittenOrReadIsNeverReplaced) {
    struct Case {
        const char* what;
        std::function<fs::path(const TempDir&)> setUp; // returns the hive file
    };
    const std::vector<Case> cases = {
        {"folder replaced by a file",
         [](const TempDir& t) {
             test::WriteFile(t / "hive", std::string("not a folder"));
             return t / "hive/registry.txt";
         }},
        {"parent folder is a file",
         [](const TempDir& t) {
             test::WriteFile(t / "file", std::string("x"));
             return t / "file/sub/registry.txt";
         }},
        {"hive is a folder with content",
         [](const TempDir& t) {
             fs::create_directories(t / "registry.txt");
             test::WriteFile(t / "registry.txt/keep", std::string("x"));
             return t / "registry.txt";
         }},
    };
    for (const Case& c : cases) {
        TempDir temp;
        ClassesRoot hive(c.setUp(temp).string());
        EXPECT_THROW(hive.CreateKey(".ZIP"), RegistryError) << c.what;
        EXPECT_FALSE(hive.KeyExists(".ZIP")) << c.what;
        EXPECT_FALSE(hive.DeleteKey(".ZIP")) << c.what;
    }
}

TEST(Registry, TheHiveFileLiesWhereTheEnvironmentSays) {
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"DOVREL_REGISTRY", "XDG_CONFIG_HOME", "HOME"}) {
        const char* value = std::getenv(name);
        saved.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
    }
    struct Case {
        const char* registry;
        const char* configHome;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/r/hive", "/c", "/r/hive/registry.txt"},
        {nullptr, "/c", "/c/dovrel/registry.txt"},
        {nullptr, nullptr, "/h/.config/dovrel/registry.txt"},
        {"", "relative", "/h/.config/dovrel/registry.txt"}, // only absolute folders count
    };
    ::setenv("HOME", "/h", 1);
    for (const Case& c : cases) {
        c.registry ? ::setenv("DOVREL_REGISTRY", c.registry, 1) : ::unsetenv("DOVREL_REGISTRY");
        c.configHome ? ::setenv("XDG_CONFIG_HOME", c.configHome, 1) : ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(ClassesRootHiveFile(), c.expected);
    }
    for (const Saved& s : saved)
        s.value ? ::setenv(s.name.c_str(), s.value->c_str(), 1) : ::unsetenv(s.name.c_str());
}

TEST(Registry, HandWrittenOrDamagedLinesAreSkipped) {
    TempDir temp;
    test::WriteFile(temp / "registry.txt", std::string("; header\r\n"
                                                       "@=orphan value before any key\n"
                                                       "[.ZIP]\r\n"
                                                       "@=DVL.Document\r\n"
                                                       "garbage\n"
                                                       "\"unterminated=x\n"
                                                       "[]\n"
                                                       "@=lost with its empty key\n"
                                                       "[A\\B]\n"
                                                       "\"v\"=%zz%4\n"));
    ClassesRoot hive((temp / "registry.txt").string());
    EXPECT_EQ(hive.ReadValue(".zip", ""), "DVL.Document");
    EXPECT_EQ(hive.SubKeyNames(""), (std::vector<std::string>{".ZIP", "A"}));
    EXPECT_EQ(hive.ReadValue("A\\B", "v"), "%zz%4");
    EXPECT_EQ(hive.ReadValue("A", ""), std::nullopt);
}

} // namespace
} // namespace dvl::platform
