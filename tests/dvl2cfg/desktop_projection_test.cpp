#include "dvl2cfg/core/desktop_projection.h"

#include "tests/dvl2cfg/store_environment.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace dvl::dvl2cfg {
namespace {

using dvl::test::ReadText;

namespace fs = std::filesystem;

class DesktopProjection : public test::StoreEnvironment {
protected:
    fs::path Applications() const { return DataFolder() / "applications"; }
    fs::path Packages() const { return DataFolder() / "mime/packages"; }
    fs::path MimeApps() const { return ConfigFolder() / "mimeapps.list"; }

    std::set<std::string> Names(const fs::path& folder, const std::string& prefix) const {
        std::set<std::string> names;
        if (!fs::exists(folder)) return names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string name = entry.path().filename().string();
            if (name.starts_with(prefix)) names.insert(name);
        }
        return names;
    }

    // The dvl2 beside the program folder, as an Exec line quotes it.
    std::string QuotedDvl2() const { return "\"" + (ProgramDir() / "dvl2").string() + "\""; }

    void Apply(std::vector<FileTypeRow> rows, std::array<bool, kActionCount> actions) {
        ApplyAssociations(ProgramFolder(), {std::move(rows), actions});
    }
};

constexpr std::array<bool, kActionCount> kOpenExtractTest = {true, true, false, false, false, true};

TEST_F(DesktopProjection, EveryVerbWithACommandBecomesADesktopEntryForTheRegisteredTypes) {
    Apply({{"ZIP", "ZIP ARCHIVE"}, {"ace", "ACE ARCHIVE"}, {"QQ1", "Q & <A>"}}, kOpenExtractTest);

    EXPECT_EQ(Names(Applications(), "dovrel-"),
              (std::set<std::string>{"dovrel-dvl2-open.desktop", "dovrel-dvl2-extract-to.desktop",
                                     "dovrel-dvl2-test-archive.desktop"}));
    const std::string types =
        "MimeType=application/zip;application/x-ace;application/x-dovrel-qq1;\n";
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"open", "Name=Open\nExec=" + QuotedDvl2() + " %f\n"},
        {"extract-to", "Name=Extract to..\nExec=" + QuotedDvl2() + " %f /n\n"},
        {"test-archive", "Name=Test archive\nExec=" + QuotedDvl2() + " %f /t\n"},
    };
    for (const auto& [verb, nameAndExec] : entries)
        EXPECT_EQ(ReadText(Applications() / ("dovrel-dvl2-" + verb + ".desktop")),
                  "[Desktop Entry]\nType=Application\nVersion=1.0\n" + nameAndExec + types +
                      "NoDisplay=true\nX-Dovrel-Projected=true\n")
            << verb;

    // Only the extension without a shared type gets a package of ours.
    EXPECT_EQ(Names(Packages(), ""), std::set<std::string>{"dovrel-qq1.xml"});
    const std::string package = ReadText(Packages() / "dovrel-qq1.xml");
    for (const char* part :
         {"<mime-type type=\"application/x-dovrel-qq1\">", "<comment>Q &amp; &lt;A&gt;</comment>",
          "<glob pattern=\"*.qq1\"/>", "<glob pattern=\"*.QQ1\"/>"})
        EXPECT_NE(package.find(part), std::string::npos) << part;

    const std::string mimeApps = ReadText(MimeApps());
    for (const char* type : {"application/zip", "application/x-ace", "application/x-dovrel-qq1"})
        EXPECT_NE(mimeApps.find(std::string(type) + "=dovrel-dvl2-open.desktop;\n"),
                  std::string::npos)
            << type;
}

TEST_F(DesktopProjection, ALaterApplyRemovesWhatNoLongerHoldsAndKeepsForeignContent) {
    const std::string foreign =
        "# my associations\n"
        "[Default Applications]\n"
        "text/plain=editor.desktop;\n"
        "application/zip=other-archiver.desktop;\n"
        "\n"
        "[Added Associations]\n"
        "application/zip=other-archiver.desktop;dovrel-dvl2-open.desktop;\n";
    test::WriteFile(MimeApps(), foreign);
    fs::create_directories(Applications());
    test::WriteFile(Applications() / "dovrel-dvl2-mine.desktop", std::string("[Desktop Entry]\n"));

    Apply({{"ZIP", "ZIP ARCHIVE"}, {"QQ1", "QQ1 ARCHIVE"}}, kOpenExtractTest);
    EXPECT_NE(ReadText(MimeApps())
                  .find("application/zip=dovrel-dvl2-open.desktop;other-archiver.desktop;\n"),
              std::string::npos);

    // QQ1 leaves the list, Extract to.. and Open are unchecked.
    Apply({{"ZIP", "ZIP ARCHIVE"}}, {false, false, false, false, true, true});
    EXPECT_EQ(Names(Applications(), "dovrel-"),
              (std::set<std::string>{"dovrel-dvl2-mine.desktop", "dovrel-dvl2-list-archive.desktop",
                                     "dovrel-dvl2-test-archive.desktop"}));
    EXPECT_EQ(ReadText(Applications() / "dovrel-dvl2-test-archive.desktop")
                      .find("MimeType=application/zip;\n") != std::string::npos,
              true);
    EXPECT_EQ(Names(Packages(), ""), std::set<std::string>{});
    EXPECT_EQ(ReadText(MimeApps()), foreign);

    // Nothing registered and nothing checked: only foreign files remain.
    Apply({}, {});
    EXPECT_EQ(Names(Applications(), "dovrel-"), std::set<std::string>{"dovrel-dvl2-mine.desktop"});
    EXPECT_EQ(ReadText(MimeApps()), foreign);
}

TEST_F(DesktopProjection, RepeatedApplyGivesTheSameFiles) {
    // The cache tools may have put our own type into the user's globs2; it must
    // not be mistaken for a shared type.
    Apply({{"QQ1", "QQ1 ARCHIVE"}}, kOpenExtractTest);
    const std::string first = ReadText(Applications() / "dovrel-dvl2-open.desktop");
    Apply({{"QQ1", "QQ1 ARCHIVE"}}, kOpenExtractTest);
    EXPECT_EQ(ReadText(Applications() / "dovrel-dvl2-open.desktop"), first);
    EXPECT_EQ(Names(Packages(), ""), std::set<std::string>{"dovrel-qq1.xml"});
}

TEST_F(DesktopProjection, DesktopEntriesPassTheValidator) {
    DVL_REQUIRE_TOOL("desktop-file-validate");
    Apply({{"ZIP", "ZIP ARCHIVE"}, {"QQ1", "Q"}}, {true, true, true, true, true, true});
    const std::set<std::string> names = Names(Applications(), "dovrel-");
    ASSERT_EQ(names.size(), 6u);
    for (const std::string& name : names) {
        int status = 0;
        std::string output = test::RunAndCapture(
            "desktop-file-validate " + test::Quote(Applications() / name) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << name << ": " << output;
        EXPECT_EQ(output, "") << name;
    }
}

TEST_F(DesktopProjection, TheMimeDatabaseIsRefreshedWhenItsToolIsPresent) {
    DVL_REQUIRE_TOOL("update-mime-database");
    Apply({{"QQ1", "Q"}}, kOpenExtractTest);
    const std::string globs = ReadText(DataFolder() / "mime/globs2");
    EXPECT_NE(globs.find("application/x-dovrel-qq1:*.qq1"), std::string::npos) << globs;
}

TEST_F(DesktopProjection, ExtensionsThatMakeNoSafeGlobAreNotProjected) {
    // "*" would claim every file; a space or slash makes no file name of ours.
    Apply({{"*", "ALL"}, {"A B", "SPACE"}, {"../", "UP"}, {"ZIP", "ZIP"}}, kOpenExtractTest);
    EXPECT_EQ(Names(Packages(), ""), std::set<std::string>{});
    EXPECT_NE(
        ReadText(Applications() / "dovrel-dvl2-open.desktop").find("MimeType=application/zip;\n"),
        std::string::npos);
    EXPECT_EQ(ReadText(MimeApps()).find("*"), std::string::npos);
}

TEST_F(DesktopProjection, SharedTypesComeFromTheUsersAndTheSystemsGlobs) {
    fs::create_directories(DataFolder() / "mime");
    test::WriteFile(DataFolder() / "mime/globs2", "80:application/x-user-zip:*.ZIP\n"
                                                  "90:application/x-dovrel-rar:*.rar\n"
                                                  "10:application/x-weak-ace:*.ace\n"
                                                  "broken line\n"
                                                  "50:application/x-arj:*.arj:cs\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ZIP", "application/x-user-zip"}, // heavier than the system's
        {"RAR", "application/vnd.rar"},    // our own types don't count
        {"ace", "application/x-ace"},      {"ARJ", "application/x-arj"}, {"QQ1", ""},
    };
    for (const auto& [extension, type] : cases)
        EXPECT_EQ(SharedMimeTypeOf(extension), type);
}

TEST_F(DesktopProjection, AFileThatCantBeWrittenFailsApplyWithItsPath) {
    test::WriteFile(DataFolder() / "applications", std::string("not a folder"));
    try {
        Apply({{"ZIP", "ZIP"}}, kOpenExtractTest);
        ADD_FAILURE() << "Apply succeeded";
    } catch (const AssociationWriteError& error) {
        EXPECT_EQ(error.what(),
                  "Unable to write to " + (Applications() / "dovrel-dvl2-open.desktop").string());
    }
}

} // namespace
} // namespace dvl::dvl2cfg
