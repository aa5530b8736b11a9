#include "dvl2cfg/core/associations.h"

#include "dvl2cfg/core/desktop_projection.h"
#include "dvl2cfg/core/store_text.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/short_path.h"

namespace dvl::dvl2cfg {

namespace {

constexpr const char* kClassName = "DVL.Document";
constexpr const char* kClassCaption = "Dovrel Archive";
constexpr const char* kShellKey = "DVL.Document\\Shell";
constexpr const char* kIniFileName = "dvl2cfg.ini";
constexpr const char* kSection = "SETTINGS";
constexpr size_t kIniBufferSize = 1024;

struct Action {
    char letter;
    const char* verbKey; // under DVL.Document\Shell
    const char* caption; // empty for Open, whose caption is the shell's own
    const char* arguments;
};

constexpr Action kActions[kActionCount] = {
    {'A', "Open", "", "\"%1\""},
    {'B', "A", "Extract to..", "\"%1\" /n"},
    {'C', "B", "Extract to current", "\"%1\" /h"},
    {'D', "C", "Extract to archive-named folder", "\"%1\" /d"},
    {'E', "D", "List archive", "\"%1\" /l"},
    {'F', "E", "Test archive", "\"%1\" /t"},
};

std::string IniPath(const std::string& programFolder) {
    return WithTrailingBackslash(programFolder) + kIniFileName;
}

std::string ExtensionKey(std::string_view extension) {
    return "." + UpperCaseAscii(extension);
}

std::string ReadSetting(const std::string& iniPath, const char* key) {
    return platform::ReadPrivateProfileString(kSection, key, "", kIniBufferSize, iniPath);
}

// dvl2 is expected beside dvl2cfg.
std::string ProgramPath(const std::string& programFolder) {
    std::string shortFolder = platform::GetShortPathName(WithTrailingBackslash(programFolder));
    if (shortFolder.empty()) shortFolder = programFolder;
    return WithTrailingBackslash(shortFolder) + "dvl2.exe";
}

void WriteExtensionKeys(platform::ClassesRoot& hive, const std::vector<FileTypeRow>& rows) {
    for (const FileTypeRow& row : rows) {
        const std::string key = ExtensionKey(row.Extension);
        // Any earlier association of the extension goes; a key that can't be
        // deleted is simply reused.
        if (hive.KeyExists(key)) hive.DeleteKey(key);
        hive.CreateKey(key);
        hive.SetValue(key, "", kClassName);
    }
}

void WriteFileTypeSettings(const std::string& iniPath, const std::vector<FileTypeRow>& rows) {
    std::string types;
    std::string descriptions;
    for (const FileTypeRow& row : rows) {
        types += UpperCaseAscii(row.Extension) + ";";
        descriptions += UpperCaseAscii(row.Description) + ";";
    }
    platform::WritePrivateProfileString(kSection, "FILETYPES", types, iniPath);
    platform::WritePrivateProfileString(kSection, "FILEDESCS", descriptions, iniPath);
}

void CreateKeyWithDefault(platform::ClassesRoot& hive, const std::string& key,
                          std::string_view value) {
    hive.CreateKey(key);
    hive.SetValue(key, "", value);
}

// Rebuilds the class from nothing, so verbs no longer checked disappear.
// Returns the letters of the checked actions in table order.
std::string WriteDocumentClass(platform::ClassesRoot& hive, const std::string& programFolder,
                               const std::array<bool, kActionCount>& checked) {
    if (hive.KeyExists(kClassName)) hive.DeleteKey(kClassName);
    CreateKeyWithDefault(hive, kClassName, kClassCaption);
    CreateKeyWithDefault(hive, kShellKey, "");
    const std::string program = ProgramPath(programFolder);
    std::string letters;
    for (int i = 0; i < kActionCount; ++i) {
        const Action& action = kActions[i];
        const std::string verbKey = std::string(kShellKey) + "\\" + action.verbKey;
        const bool isOpen = i == 0;
        if (!checked[i] && !isOpen) continue;
        CreateKeyWithDefault(hive, verbKey, action.caption);
        if (!checked[i]) continue;
        CreateKeyWithDefault(hive, verbKey + "\\Command", program + " " + action.arguments);
        letters += action.letter;
    }
    return letters;
}

} // namespace

bool IsRegistered(const std::string& extension) {
    std::optional<std::string> value =
        platform::ClassesRoot().ReadValue(ExtensionKey(extension), "");
    return value && *value == kClassName;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
        pieces.push_back(text.substr(start, end - start));
    return pieces;
}

AssociationState LoadAssociations(const std::string& programFolder) {
    const std::string iniPath = IniPath(programFolder);
    const std::vector<std::string> types = SplitList(ReadSetting(iniPath, "FILETYPES"));
    const std::vector<std::string> descriptions = SplitList(ReadSetting(iniPath, "FILEDESCS"));
    AssociationState state;
    for (size_t i = 0; i < types.size(); ++i) {
        if (!IsRegistered(types[i])) continue;
        // A description list shorter than the type list leaves the rest blank.
        state.Rows.push_back(
            {UpperCaseAscii(types[i]), i < descriptions.size() ? descriptions[i] : ""});
    }
    const std::string actions = UpperCaseAscii(ReadSetting(iniPath, "ACTIONS"));
    for (int i = 0; i < kActionCount; ++i)
        if (actions.find(kActions[i].letter) != std::string::npos) state.Actions[i] = true;
    return state;
}

void ApplyAssociations(const std::string& programFolder, const AssociationState& state) {
    const std::string iniPath = IniPath(programFolder);
    try {
        platform::ClassesRoot hive;
        WriteExtensionKeys(hive, state.Rows);
        WriteFileTypeSettings(iniPath, state.Rows);
        const std::string letters = WriteDocumentClass(hive, programFolder, state.Actions);
        platform::WritePrivateProfileString(kSection, "ACTIONS", letters, iniPath);
    } catch (const platform::RegistryError& error) {
        throw AssociationWriteError(error.what());
    } catch (const platform::ProfileError& error) {
        throw AssociationWriteError(error.what());
    }
    ProjectOntoDesktop(programFolder, state.Rows);
}

} // namespace dvl::dvl2cfg
