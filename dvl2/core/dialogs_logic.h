// The rules of the "Extract to.." dialog that do not depend on its widgets.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dvl::dvl2 {

// The dialog's result for the selected folder: no trailing "\" unless it is
// a root.
std::string SelectedFolderResult(const std::string& folder);

// Asks for the name ("New folder..", prompt "Name", proposed: the archive's
// file name without its last 4 characters) and creates that one folder in
// the selected one. askName returns nullopt when the input box was
// cancelled. On failure shows the "Cannot create directory" warning. The
// new folder's path on success.
using AskName = std::function<std::optional<std::string>(const std::string& proposed)>;
std::optional<std::string> CreateNewFolder(const std::string& archivePath,
                                           const std::string& selectedFolder,
                                           const AskName& askName);

} // namespace dvl::dvl2
