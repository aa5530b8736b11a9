#include "dvl2/core/dialogs_logic.h"

#include "archive/text.h"
#include "dvl2/core/detect.h"
#include "platform/hooks.h"
#include "platform/paths.h"

namespace dvl::dvl2 {

namespace {

// A name that would not make exactly one new folder in the selected one.
bool InvalidFolderName(const std::string& name) {
    return name.empty() || name == "." || name == ".." ||
           name.find_first_of("\\/:*?\"<>|") != std::string::npos;
}

} // namespace

std::string SelectedFolderResult(const std::string& folder) {
    std::string result = folder;
    while (result.size() > 1 && result.back() == '\\' && result[result.size() - 2] != ':')
        result.pop_back();
    return result;
}

std::optional<std::string> CreateNewFolder(const std::string& archivePath,
                                           const std::string& selectedFolder,
                                           const AskName& askName) {
    const std::optional<std::string> name = askName(NameWithoutLast4(ExtractFileName(archivePath)));
    if (!name) return std::nullopt;
    const std::string path = WithBackslash(selectedFolder) + *name;
    // Creating a folder that exists already counts as failing here.
    if (InvalidFolderName(*name) || platform::NameExists(path) ||
        !platform::CreateDirectory(path)) {
        platform::ShowMessageBox({"Warning", "Cannot create directory",
                                  platform::MessageIcon::Warning, platform::MessageButtons::Ok});
        return std::nullopt;
    }
    return path;
}

} // namespace dvl::dvl2
