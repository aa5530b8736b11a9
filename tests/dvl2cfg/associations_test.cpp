#include "dvl2cfg/core/associations.h"

#include "platform/registry.h"
#include "tests/dvl2cfg/store_environment.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace dvl::dvl2cfg {

void PrintTo(const FileTypeRow& row, std::ostream* out) {
    *out << row.Extension << "/" << row.Description;
}

namespace {

using dvl::test::ReadText;

namespace fs = std::filesystem;
using Rows = std::vector<FileTypeRow>;
using Actions = std::array<bool, kActionCount>;

class AssociationStore : public test::StoreEnvironment {
protected:
    platform::ClassesRoot hive_;

    void WriteIni(const std::string& text) { test::WriteFile(IniFile(), text); }

    void RegisterExtension(const std::string& key, const std::string& className) {
        hive_.CreateKey(key);
        hive_.SetValue(key, "", className);
    }

    std::optional<std::string> Default(const std::string& key) { return hive_.ReadValue(key, ""); }

    // The program path of the commands: the program folder, "\" and dvl2.exe.
    std::string Program() const { return ProgramFolder() + "\\dvl2.exe"; }
};

TEST(SplitList, KeepsOnlyPiecesEndingWithASemicolon) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"ZIP", {}},
        {"ZIP;RAR", {"ZIP"}},
        {"ZIP;RAR;", {"ZIP", "RAR"}},
        {";;A;", {"", "", "A"}},
        {"ZIP ARCHIVE;;", {"ZIP ARCHIVE", ""}},
    };
    for (const auto& [text, pieces] : cases)
        EXPECT_EQ(SplitList(text), pieces) << text;
}

TEST_F(AssociationStore, FirstStartWithoutIniShowsNothingAndApplyWritesTheBareClass) {
    AssociationState state = LoadAssociations(ProgramFolder());
    EXPECT_TRUE(state.Rows.empty());
    EXPECT_EQ(state.Actions, Actions{});

    ApplyAssociations(ProgramFolder(), state);
    EXPECT_EQ(ReadText(IniFile()), "[SETTINGS]\nFILETYPES=\nFILEDESCS=\nACTIONS=\n");
    EXPECT_EQ(Default("DVL.Document"), "Dovrel Archive");
    EXPECT_EQ(Default("DVL.Document\\Shell"), "");
    EXPECT_EQ(hive_.SubKeyNames("DVL.Document"), std::vector<std::string>{"Shell"});
    EXPECT_EQ(hive_.SubKeyNames("DVL.Document\\Shell"), std::vector<std::string>{"Open"});
    EXPECT_EQ(Default("DVL.Document\\Shell\\Open"), "");
    EXPECT_FALSE(hive_.KeyExists("DVL.Document\\Shell\\Open\\Command"));
}

TEST_F(AssociationStore, LoadShowsOnlyExtensionsStillRegisteredToTheClass) {
    RegisterExtension(".ZIP", "DVL.Document");
    RegisterExtension(".RAR", "DVL.Document");
    RegisterExtension(".ACE", "DVL.Document");
    RegisterExtension(".ARJ", "OtherProgram.Archive");
    RegisterExtension(".LZH", "dvl.document"); // the class name compares exactly
    hive_.CreateKey(".CAB");                   // no default value
    struct Case {
        const char* ini;
        Rows rows;
        Actions actions;
    };
    const std::vector<Case> cases = {
        {"[SETTINGS]\nFILETYPES=ZIP;RAR\nFILEDESCS=ZIP ARCHIVE;RAR ARCHIVE\n",
         {{"ZIP", "ZIP ARCHIVE"}},
         {}},
        {"[settings]\nfiletypes=arj;zip;lzh;cab;7z;ace;\nfiledescs=A;Z;L;C;S;E;\n",
         {{"ZIP", "Z"}, {"ACE", "E"}},
         {}},
        {"[SETTINGS]\nFILETYPES=ZIP;rar;ZIP;\nFILEDESCS=first;\nACTIONS=xb-f?\n",
         {{"ZIP", "first"}, {"RAR", ""}, {"ZIP", ""}},
         {false, true, false, false, false, true}},
        {"[SETTINGS]\nACTIONS=FEDCBA\n", {}, {true, true, true, true, true, true}},
        {"[OTHER]\nFILETYPES=ZIP;\nACTIONS=A\n", {}, {}},
    };
    for (const Case& c : cases) {
        WriteIni(c.ini);
        AssociationState state = LoadAssociations(ProgramFolder());
        EXPECT_EQ(state.Rows, c.rows) << c.ini;
        EXPECT_EQ(state.Actions, c.actions) << c.ini;
    }
}

TEST_F(AssociationStore, ValuesAreReadThroughTheThousandCharacterBuffer) {
    // 255 entries of "ZIP;" are 1020 characters; 1023 are read, so RAR loses its ";".
    std::string types;
    for (int i = 0; i < 255; ++i)
        types += "ZIP;";
    WriteIni("[SETTINGS]\nFILETYPES=" + types + "RAR;\n");
    RegisterExtension(".ZIP", "DVL.Document");
    RegisterExtension(".RAR", "DVL.Document");
    AssociationState state = LoadAssociations(ProgramFolder());
    ASSERT_EQ(state.Rows.size(), 255u);
    EXPECT_EQ(state.Rows.back().Extension, "ZIP");
}

TEST_F(AssociationStore, ApplyWritesTheExactCommandsCaptionsAndSettings) {
    AssociationState state;
    state.Rows = {{"zip", "Zip archive"}, {"RAR", "RAR ARCHIVE"}, {"ZIP", "again"}};
    state.Actions = {true, true, true, true, true, true};
    ApplyAssociations(ProgramFolder(), state);

    EXPECT_EQ(ReadText(IniFile()), "[SETTINGS]\n"
                                   "FILETYPES=ZIP;RAR;ZIP;\n"
                                   "FILEDESCS=ZIP ARCHIVE;RAR ARCHIVE;AGAIN;\n"
                                   "ACTIONS=ABCDEF\n");
    for (const char* key : {".ZIP", ".RAR"})
        EXPECT_EQ(Default(key), "DVL.Document") << key;
    const std::string p = Program();
    const std::vector<std::tuple<std::string, std::string, std::string>> verbs = {
        {"Open", "", p + " \"%1\""},
        {"A", "Extract to..", p + " \"%1\" /n"},
        {"B", "Extract to current", p + " \"%1\" /h"},
        {"C", "Extract to archive-named folder", p + " \"%1\" /d"},
        {"D", "List archive", p + " \"%1\" /l"},
        {"E", "Test archive", p + " \"%1\" /t"},
    };
    EXPECT_EQ(hive_.SubKeyNames("DVL.Document\\Shell"),
              (std::vector<std::string>{"Open", "A", "B", "C", "D", "E"}));
    for (const auto& [verb, caption, command] : verbs) {
        const std::string key = "DVL.Document\\Shell\\" + verb;
        EXPECT_EQ(Default(key), caption) << key;
        EXPECT_EQ(Default(key + "\\Command"), command) << key;
        EXPECT_EQ(hive_.SubKeyNames(key), std::vector<std::string>{"Command"}) << key;
    }
    EXPECT_FALSE(hive_.KeyExists("DVL.Document\\DefaultIcon"));

    AssociationState loaded = LoadAssociations(ProgramFolder());
    EXPECT_EQ(loaded.Rows,
              (Rows{{"ZIP", "ZIP ARCHIVE"}, {"RAR", "RAR ARCHIVE"}, {"ZIP", "AGAIN"}}));
    EXPECT_EQ(loaded.Actions, state.Actions);
}

TEST_F(AssociationStore, ApplyRebuildsTheClassAndReplacesEarlierExtensionKeys) {
    RegisterExtension(".ZIP", "OtherProgram.Archive");
    hive_.CreateKey(".ZIP\\OpenWithProgids");
    AssociationState state;
    state.Rows = {{"ZIP", "ZIP ARCHIVE"}, {"ACE", "ACE ARCHIVE"}};
    state.Actions = {true, true, true, true, true, true};
    ApplyAssociations(ProgramFolder(), state);
    hive_.CreateKey("DVL.Document\\DefaultIcon");

    state.Rows = {{"ZIP", "ZIP ARCHIVE"}}; // ACE removed from the list
    state.Actions = {false, false, false, false, true, false};
    ApplyAssociations(ProgramFolder(), state);

    EXPECT_EQ(Default(".ZIP"), "DVL.Document");
    EXPECT_FALSE(hive_.KeyExists(".ZIP\\OpenWithProgids"));
    EXPECT_EQ(hive_.SubKeyNames("DVL.Document"), std::vector<std::string>{"Shell"});
    EXPECT_EQ(hive_.SubKeyNames("DVL.Document\\Shell"), (std::vector<std::string>{"Open", "D"}));
    EXPECT_FALSE(hive_.KeyExists("DVL.Document\\Shell\\Open\\Command"));
    EXPECT_EQ(Default("DVL.Document\\Shell\\D\\Command"), Program() + " \"%1\" /l");
    // A removed row keeps its key but is not shown again.
    EXPECT_EQ(Default(".ACE"), "DVL.Document");
    AssociationState loaded = LoadAssociations(ProgramFolder());
    EXPECT_EQ(loaded.Rows, (Rows{{"ZIP", "ZIP ARCHIVE"}}));
    EXPECT_EQ(loaded.Actions, (Actions{false, false, false, false, true, false}));
}

TEST_F(AssociationStore, AFailingWriteStopsApplyAndKeepsWhatWasWrittenBefore) {
    AssociationState earlier;
    earlier.Rows = {{"RAR", "RAR ARCHIVE"}};
    earlier.Actions = {false, false, false, false, false, true};
    ApplyAssociations(ProgramFolder(), earlier);
    const std::string earlierIni = ReadText(IniFile());

    AssociationState state;
    state.Rows = {{"ZIP", "ZIP ARCHIVE"}};
    state.Actions = {true, false, false, false, false, false};

    // The INI file can't be replaced: the extension keys are written, the class
    // of the earlier Apply stays.
    fs::rename(IniFile(), ProgramDir() / "kept.ini");
    fs::create_directories(IniFile());
    try {
        ApplyAssociations(ProgramFolder(), state);
        ADD_FAILURE() << "Apply succeeded";
    } catch (const AssociationWriteError& error) {
        EXPECT_EQ(error.what(), "Unable to write to " + IniFile().string());
    }
    EXPECT_EQ(Default(".ZIP"), "DVL.Document");
    EXPECT_TRUE(hive_.KeyExists("DVL.Document\\Shell\\E\\Command"));
    EXPECT_FALSE(hive_.KeyExists("DVL.Document\\Shell\\Open\\Command"));
    fs::remove(IniFile());
    fs::rename(ProgramDir() / "kept.ini", IniFile());

    // The hive's folder is replaced by a file: the first key fails, nothing changes.
    fs::rename(HiveFolder(), Temp() / "kept-hive");
    test::WriteFile(HiveFolder(), std::string("not a folder"));
    try {
        ApplyAssociations(ProgramFolder(), state);
        ADD_FAILURE() << "Apply succeeded";
    } catch (const AssociationWriteError& error) {
        EXPECT_STREQ(error.what(), "Failed to create key .ZIP");
    }
    EXPECT_EQ(ReadText(IniFile()), earlierIni);
}

} // namespace
} // namespace dvl::dvl2cfg
