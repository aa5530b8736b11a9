#include "platform/xdg_dirs.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace dvl::platform {

namespace {

// The specification ignores relative values: only absolute folders count.
std::string AbsoluteEnvironmentFolder(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    std::string folder = value;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string FolderOrDefault(const char* variable, const char* underHome) {
    std::string folder = AbsoluteEnvironmentFolder(variable);
    return folder.empty() ? HomeFolder() + underHome : folder;
}

} // namespace

std::string HomeFolder() {
    std::string home = AbsoluteEnvironmentFolder("HOME");
    if (!home.empty()) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

std::string UserConfigFolder() {
    return FolderOrDefault("XDG_CONFIG_HOME", "/.config");
}

std::string UserDataFolder() {
    return FolderOrDefault("XDG_DATA_HOME", "/.local/share");
}

std::vector<std::string> SystemDataFolders() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::string list =
        (value != nullptr && value[0] != '\0') ? value : "/usr/local/share:/usr/share";
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string folder = list.substr(start, end - start);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (!folder.empty() && folder[0] == '/') folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

bool CreateNativeFolders(const std::string& nativePath) {
    std::error_code error;
    std::filesystem::create_directories(nativePath, error);
    return std::filesystem::is_directory(nativePath, error);
}

} // namespace dvl::platform
