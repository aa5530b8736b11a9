#include "dvl2/core/detect.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace dvl::dvl2 {

namespace {

constexpr size_t kHeadSize = 16;
constexpr char kEndOfFileChar = 26;

bool Contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

} // namespace

std::string DetectFormatOfHead(std::string_view head) {
    std::string asRead(head.substr(0, kHeadSize));
    asRead.resize(kHeadSize, kEndOfFileChar);
    std::string upper = asRead;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');

    // Every test that succeeds replaces the result of an earlier one.
    std::string result;
    if (Contains(upper, "RAR!")) result = "RAR";
    if (Contains(upper, "ACE")) result = "ACE";
    if (Contains(upper, "PK")) result = "ZIP";
    if (Contains(asRead, "\x60\xEA")) result = "ARJ";
    if (Contains(asRead, "lh")) result = "LHA";
    return result;
}

std::optional<std::string> DetectFormat(const std::string& path, std::string* errorText) {
    std::ifstream in(platform::ToNativePath(path), std::ios::binary);
    if (!in) {
        if (errorText) *errorText = std::strerror(errno);
        return std::nullopt;
    }
    char head[kHeadSize];
    in.read(head, kHeadSize);
    if (in.bad()) {
        if (errorText) *errorText = std::strerror(errno ? errno : EIO);
        return std::nullopt;
    }
    return DetectFormatOfHead(std::string_view(head, size_t(in.gcount())));
}

std::string WithBackslash(std::string_view path) {
    std::string result(path);
    if (result.empty() || result.back() != '\\') result += '\\';
    return result;
}

std::vector<std::string> ListPlainFiles(const std::string& folder, const std::string& mask) {
    std::vector<std::string> names = platform::ListFiles(folder, mask);
    std::erase_if(names, [](const std::string& name) { return !name.empty() && name[0] == '.'; });
    return names;
}

int CountVolumes(const std::string& folder, const std::string& archiveFileName) {
    platform::SetCurrentDir(folder.empty() ? std::string("\\") : folder);
    return int(ListPlainFiles(folder, NameWithoutLast4(archiveFileName) + ".*").size());
}

std::string NameWithoutLast4(const std::string& fileName) {
    return fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();
}

std::string SiblingMask(const std::string& archiveFileName) {
    return archiveFileName.substr(0, 3) + "*.zip";
}

} // namespace dvl::dvl2
