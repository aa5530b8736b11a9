// The per-user base folders of the freedesktop conventions, native paths
// without a trailing "/".
#pragma once

#include <string>
#include <vector>

namespace dvl::platform {

std::string HomeFolder();                     // $HOME, else the password database
std::string UserConfigFolder();               // $XDG_CONFIG_HOME, default ~/.config
std::string UserDataFolder();                 // $XDG_DATA_HOME, default ~/.local/share
std::vector<std::string> SystemDataFolders(); // $XDG_DATA_DIRS, default /usr/local/share:/usr/share

// Creates the folder and its missing parents; true when it exists afterwards.
bool CreateNativeFolders(const std::string& nativePath);

} // namespace dvl::platform
