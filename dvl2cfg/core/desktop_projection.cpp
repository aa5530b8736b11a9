#include "dvl2cfg/core/desktop_projection.h"

#include "dvl2cfg/core/store_text.h"
#include "platform/atomic_write.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/xdg_dirs.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace dvl::dvl2cfg {

namespace {

constexpr const char* kShellKey = "DVL.Document\\Shell";
constexpr const char* kEntryPrefix = "dovrel-dvl2-";
constexpr const char* kEntrySuffix = ".desktop";
constexpr const char* kEntryMarker = "X-Dovrel-Projected=true";
constexpr const char* kOpenEntry = "dovrel-dvl2-open.desktop";
constexpr const char* kPackagePrefix = "dovrel-";
constexpr const char* kPackageSuffix = ".xml";
constexpr const char* kOwnTypePrefix = "application/x-dovrel-";
constexpr const char* kDefaultsSection = "Default Applications";

struct Verb {
    std::string fileName; // dovrel-dvl2-<slug>.desktop
    std::string name;
    std::string exec;
    bool isOpen = false;
};

struct ProjectedType {
    std::string extension; // upper case
    std::string description;
    std::string mimeType;
    bool ownType = false; // declared by a package of ours
};

AssociationWriteError WriteFailure(const std::string& nativePath) {
    return AssociationWriteError("Unable to write to " + nativePath);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string NativeFolder(const std::string& winFolder) {
    std::string folder = platform::ToNativePath(winFolder);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// --- Desktop entry text ----------------------------------------------------------

// "Extract to archive-named folder" -> "extract-to-archive-named-folder".
std::string Slug(std::string_view text) {
    std::string slug;
    for (char c : LowerCaseAscii(text)) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (keep)
            slug += c;
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    while (!slug.empty() && slug.back() == '-')
        slug.pop_back();
    return slug;
}

// The escapes of a desktop entry's string values.
std::string DesktopString(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One argument of an Exec line: quoted when it holds a reserved character,
// with the characters that stay special inside quotes escaped, and "%"
// doubled so that it is no field code.
std::string ExecArgument(std::string_view argument) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    std::string out = quote ? "\"" : "";
    for (char c : argument) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
        if (c == '%') out += '%';
    }
    if (quote) out += '"';
    return out;
}

// The verb's command line with the real program in place of "...\dvl2.exe"
// and the file field code in place of the quoted "%1"; empty when the
// command does not start dvl2.
std::string ExecLine(std::string_view command, const std::string& program) {
    constexpr std::string_view kProgramName = "dvl2.exe";
    size_t at = LowerCaseAscii(command).find(kProgramName);
    if (at == std::string::npos) return {};
    std::string exec = ExecArgument(program);
    std::string_view rest = command.substr(at + kProgramName.size());
    while (!rest.empty()) {
        size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        size_t end = rest.find(' ');
        std::string_view token = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        exec +=
            " " + (token == "\"%1\"" || token == "%1" ? std::string("%f") : ExecArgument(token));
    }
    return exec;
}

std::vector<Verb> ReadVerbs(const platform::ClassesRoot& hive, const std::string& program) {
    std::vector<Verb> verbs;
    for (const std::string& key : hive.SubKeyNames(kShellKey)) {
        const std::string verbKey = std::string(kShellKey) + "\\" + key;
        std::optional<std::string> command = hive.ReadValue(verbKey + "\\Command", "");
        if (!command) continue;
        Verb verb;
        verb.exec = ExecLine(*command, program);
        std::string caption = hive.ReadValue(verbKey, "").value_or("");
        verb.isOpen = EqualsIgnoringCase(key, "Open");
        verb.name = caption.empty() ? key : caption;
        std::string slug = Slug(verb.name);
        if (verb.exec.empty() || slug.empty()) continue;
        verb.fileName = kEntryPrefix + slug + kEntrySuffix;
        verbs.push_back(std::move(verb));
    }
    return verbs;
}

std::string DesktopEntry(const Verb& verb, const std::vector<ProjectedType>& types) {
    std::string mimeTypes;
    for (const ProjectedType& type : types)
        mimeTypes += type.mimeType + ";";
    std::string entry = "[Desktop Entry]\n"
                        "Type=Application\n"
                        "Version=1.0\n"
                        "Name=" +
                        DesktopString(verb.name) + "\nExec=" + DesktopString(verb.exec) + "\n";
    if (!mimeTypes.empty()) entry += "MimeType=" + mimeTypes + "\n";
    entry += "NoDisplay=true\n";
    entry += std::string(kEntryMarker) + "\n";
    return entry;
}

// --- MIME types --------------------------------------------------------------

// Extensions that make a safe glob, MIME subtype and file name; others (a "*"
// would claim every file) are left out of the projection.
bool Projectable(std::string_view extension) {
    if (extension.empty()) return false;
    return std::all_of(extension.begin(), extension.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '+' || c == '.';
    });
}

struct GlobMatch {
    int weight = -1;
    std::string mimeType;
};

// globs2 lines are "weight:type:glob[:flags]"; the heaviest type wins, the
// first of equal weight.
void SearchGlobs(const std::string& globsFile, std::string_view glob, GlobMatch& best) {
    std::string text;
    if (!platform::ReadWholeFile(globsFile, text)) return;
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        size_t first = line.find(':');
        size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        std::string_view type = line.substr(first + 1, second - first - 1);
        std::string_view pattern = line.substr(second + 1);
        pattern = pattern.substr(0, pattern.find(':'));
        if (!EqualsIgnoringCase(pattern, glob) || StartsWith(type, kOwnTypePrefix)) continue;
        int weight = 0;
        for (char c : line.substr(0, first))
            if (c >= '0' && c <= '9') weight = std::min(weight * 10 + (c - '0'), 1000);
        if (weight > best.weight) best = {weight, std::string(type)};
    }
}

std::vector<ProjectedType> ProjectedTypes(const std::vector<FileTypeRow>& rows) {
    std::vector<ProjectedType> types;
    std::set<std::string> seen;
    for (const FileTypeRow& row : rows) {
        const std::string extension = UpperCaseAscii(row.Extension);
        if (!Projectable(extension) || !IsRegistered(extension) || !seen.insert(extension).second)
            continue;
        ProjectedType type{extension, row.Description, SharedMimeTypeOf(extension), false};
        if (type.mimeType.empty()) {
            type.mimeType = kOwnTypePrefix + LowerCaseAscii(extension);
            type.ownType = true;
        }
        types.push_back(std::move(type));
    }
    return types;
}

std::string XmlText(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

std::string MimePackage(const ProjectedType& type) {
    const std::string lower = LowerCaseAscii(type.extension);
    std::string comment = type.description.empty() ? type.extension + " archive" : type.description;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"" +
        type.mimeType + "\">\n    <comment>" + XmlText(comment) +
        "</comment>\n    <glob pattern=\"*." + XmlText(lower) + "\"/>\n";
    if (type.extension != lower)
        xml += "    <glob pattern=\"*." + XmlText(type.extension) + "\"/>\n";
    xml += "  </mime-type>\n</mime-info>\n";
    return xml;
}

std::string PackageFileName(const ProjectedType& type) {
    return kPackagePrefix + LowerCaseAscii(type.extension) + kPackageSuffix;
}

// --- Files -----------------------------------------------------------------------

void WriteFileOrThrow(const std::string& folder, const std::string& name,
                      const std::string& content) {
    const std::string path = folder + "/" + name;
    if (!platform::CreateNativeFolders(folder) || !platform::WriteFileAtomically(path, content))
        throw WriteFailure(path);
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

bool IsOurDesktopEntry(const std::string& path) {
    std::string text;
    return platform::ReadWholeFile(path, text) &&
           text.find("\n" + std::string(kEntryMarker) + "\n") != std::string::npos;
}

void RemoveStaleDesktopEntries(const std::string& folder, const std::set<std::string>& current) {
    for (const std::string& name : FileNames(folder)) {
        if (!StartsWith(name, kEntryPrefix) || !EndsWith(name, kEntrySuffix)) continue;
        const std::string path = folder + "/" + name;
        if (!current.contains(name) && IsOurDesktopEntry(path)) ::unlink(path.c_str());
    }
}

void RemoveStalePackages(const std::string& folder, const std::set<std::string>& current) {
    for (const std::string& name : FileNames(folder)) {
        if (!StartsWith(name, kPackagePrefix) || !EndsWith(name, kPackageSuffix)) continue;
        if (!current.contains(name)) ::unlink((folder + "/" + name).c_str());
    }
}

// --- mimeapps.list -------------------------------------------------------------

std::vector<std::string> DesktopIdList(std::string_view value) {
    std::vector<std::string> ids;
    while (!value.empty()) {
        size_t end = value.find(';');
        std::string_view id = value.substr(0, end);
        value.remove_prefix(end == std::string_view::npos ? value.size() : end + 1);
        if (!id.empty()) ids.emplace_back(id);
    }
    return ids;
}

std::string JoinIds(const std::vector<std::string>& ids) {
    std::string value;
    for (const std::string& id : ids)
        value += id + ";";
    return value;
}

// Our Open entry goes first for each projected type and out of every other
// type's list; the user's other choices stay behind it.
void UpdateDefaultApplications(const std::string& mimeAppsFile,
                               const std::set<std::string>& types) {
    const std::string ini = platform::ToWindowsPath(mimeAppsFile);
    std::vector<std::pair<std::string, std::string>> entries =
        platform::GetPrivateProfileSection(kDefaultsSection, ini);
    auto valueOf = [&](const std::string& type) -> std::string {
        for (const auto& [key, value] : entries)
            if (EqualsIgnoringCase(key, type)) return value;
        return {};
    };
    try {
        for (const auto& [type, value] : entries) {
            std::vector<std::string> ids = DesktopIdList(value);
            if (types.contains(type) || std::erase(ids, kOpenEntry) == 0) continue;
            if (ids.empty())
                platform::DeletePrivateProfileKey(kDefaultsSection, type, ini);
            else
                platform::WritePrivateProfileString(kDefaultsSection, type, JoinIds(ids), ini);
        }
        for (const std::string& type : types) {
            std::vector<std::string> ids = DesktopIdList(valueOf(type));
            std::erase(ids, kOpenEntry);
            ids.insert(ids.begin(), kOpenEntry);
            platform::WritePrivateProfileString(kDefaultsSection, type, JoinIds(ids), ini);
        }
    } catch (const platform::ProfileError& error) {
        throw AssociationWriteError(error.what());
    }
}

// Refreshes a desktop cache; a missing tool or a failing run changes nothing
// that the files themselves don't already say.
void RunIfPresent(const char* tool, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, tool, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

bool FolderExists(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    ::closedir(dir);
    return true;
}

} // namespace

std::string SharedMimeTypeOf(const std::string& extension) {
    const std::string glob = "*." + LowerCaseAscii(extension);
    GlobMatch best;
    SearchGlobs(platform::UserDataFolder() + "/mime/globs2", glob, best);
    for (const std::string& folder : platform::SystemDataFolders())
        SearchGlobs(folder + "/mime/globs2", glob, best);
    return best.mimeType;
}

void ProjectOntoDesktop(const std::string& programFolder, const std::vector<FileTypeRow>& rows) {
    const std::string program = NativeFolder(programFolder) + "/dvl2";
    const std::vector<Verb> verbs = ReadVerbs(platform::ClassesRoot(), program);
    const std::vector<ProjectedType> types = ProjectedTypes(rows);
    const std::string dataFolder = platform::UserDataFolder();
    const std::string applications = dataFolder + "/applications";
    const std::string mime = dataFolder + "/mime";
    const std::string packages = mime + "/packages";

    std::set<std::string> entryNames;
    bool openProjected = false;
    for (const Verb& verb : verbs) {
        WriteFileOrThrow(applications, verb.fileName, DesktopEntry(verb, types));
        entryNames.insert(verb.fileName);
        openProjected = openProjected || verb.isOpen;
    }
    RemoveStaleDesktopEntries(applications, entryNames);

    std::set<std::string> packageNames;
    std::set<std::string> defaultTypes;
    for (const ProjectedType& type : types) {
        if (type.ownType) {
            WriteFileOrThrow(packages, PackageFileName(type), MimePackage(type));
            packageNames.insert(PackageFileName(type));
        }
        if (openProjected) defaultTypes.insert(type.mimeType);
    }
    RemoveStalePackages(packages, packageNames);

    const std::string configFolder = platform::UserConfigFolder();
    if (!platform::CreateNativeFolders(configFolder)) throw WriteFailure(configFolder);
    UpdateDefaultApplications(configFolder + "/mimeapps.list", defaultTypes);

    if (FolderExists(applications)) RunIfPresent("update-desktop-database", {"-q", applications});
    if (FolderExists(packages)) RunIfPresent("update-mime-database", {mime});
}

} // namespace dvl::dvl2cfg
