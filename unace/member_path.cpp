#include "unace/member_path.h"

namespace dvl::unace {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool HasDrivePrefix(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

} // namespace

std::string ConfinedMemberPath(std::string_view name) {
    if (HasDrivePrefix(name)) name.remove_prefix(2);
    std::string path;
    size_t start = 0;
    while (start < name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!path.empty()) path += '\\';
            path += part;
        }
        start = end + 1;
    }
    return path;
}

} // namespace dvl::unace
