#include "platform/output_tree.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {

namespace {

// Extensions up to this length (the dot included) survive a shortening.
constexpr size_t kMaxKeptExtension = 16;

uint32_t NameHash(std::string_view name) {
    uint32_t h = 2166136261u; // 32-bit FNV-1a
    for (char c : name)
        h = (h ^ uint8_t(c)) * 16777619u;
    return h;
}

bool IsLink(int folderFd, const std::string& name) {
    struct stat st;
    return fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Errors that say the name itself cannot be held, whatever else exists.
bool IsNameError(int error) {
    return error == ENAMETOOLONG || error == EILSEQ || error == EINVAL;
}

// Splits a relative Windows-form path into fitted components; false (with
// the result's status set) when one can never be created.
bool SplitComponents(std::string_view relative, std::vector<std::string>& parts,
                     OutputResult& result) {
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (part == "." || part == ".." || part.find('\0') != std::string_view::npos) {
            result.status = OutputStatus::InvalidName;
            return false;
        }
        parts.push_back(FittedName(part));
        if (parts.back().size() != part.size()) result.renamed = true;
    }
    if (parts.empty()) {
        result.status = OutputStatus::InvalidName;
        return false;
    }
    for (const std::string& part : parts) {
        if (!result.relative.empty()) result.relative += '\\';
        result.relative += part;
    }
    return true;
}

void Fail(OutputResult& result, OutputStatus status, int error) {
    result.status = IsNameError(error) ? OutputStatus::InvalidName : status;
    result.error = error;
}

} // namespace

std::string FittedName(std::string_view name) {
    if (name.size() <= kMaxNameBytes) return std::string(name);
    char tag[10];
    std::snprintf(tag, sizeof tag, "~%08X", unsigned(NameHash(name)));
    std::string_view extension;
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= kMaxKeptExtension)
        extension = name.substr(dot);
    size_t cut = kMaxNameBytes - (sizeof tag - 1) - extension.size();
    // Never end inside a UTF-8 sequence.
    while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80)
        --cut;
    std::string fitted(name.substr(0, cut));
    fitted += tag;
    fitted += extension;
    return fitted;
}

OutputTree::OutputTree(std::string_view winRoot) : rootNative_(ToNativePath(winRoot)) {
    if (rootNative_.empty()) rootNative_ = ".";
}

OutputTree::~OutputTree() {
    if (rootFd_ >= 0) close(rootFd_);
}

int OutputTree::OpenRoot(bool create) const {
    if (rootFd_ >= 0) return rootFd_;
    rootFd_ = open(rootNative_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0 && errno == ENOENT && create && ForceDirectories(ToWindowsPath(rootNative_)))
        rootFd_ = open(rootNative_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return rootFd_;
}

int OutputTree::OpenFolders(const std::vector<std::string>& parts, bool create,
                            OutputResult& result) const {
    const int root = OpenRoot(create);
    if (root < 0) {
        Fail(result, OutputStatus::FolderFailed, errno);
        return -1;
    }
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (const std::string& part : parts) {
        if (fd < 0) break;
        int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
                Fail(result, OutputStatus::FolderFailed, errno);
                close(fd);
                return -1;
            }
            next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            const int error = errno;
            if (IsLink(fd, part))
                result.status = OutputStatus::LinkInPath;
            else
                Fail(result, OutputStatus::FolderFailed, error);
            close(fd);
            return -1;
        }
        close(fd);
        fd = next;
    }
    if (fd < 0 && result.Ok()) Fail(result, OutputStatus::FolderFailed, errno);
    return fd;
}

OutputResult OutputTree::Check(std::string_view relative) const {
    OutputResult result;
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return result;
    const int root = OpenRoot(false);
    if (root < 0) return result; // nothing below a missing destination exists
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (const std::string& part : parts) {
        if (fd < 0) break;
        if (IsLink(fd, part)) {
            result.status = OutputStatus::LinkInPath;
            break;
        }
        const int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next; // a missing component ends the look: nothing lies below it
    }
    if (fd >= 0) close(fd);
    return result;
}

OutputResult OutputTree::CreateFolders(std::string_view relative) {
    OutputResult result;
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return result;
    const int fd = OpenFolders(parts, true, result);
    if (fd >= 0) close(fd);
    return result;
}

OutputResult OutputTree::CreateFile(std::string_view relative, File& file) {
    file.Close();
    OutputResult result;
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return result;
    const std::string name = parts.back();
    parts.pop_back();
    const int folder = OpenFolders(parts, true, result);
    if (folder < 0) return result;

    // Non-blocking, so that a FIFO lying in the file's place cannot hang the
    // run; only a plain file is written to.
    int fd = openat(folder, name.c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    const int error = errno;
    if (fd < 0) {
        if (IsLink(folder, name))
            result.status = OutputStatus::LinkInPath;
        else
            Fail(result, OutputStatus::FileFailed, error);
        close(folder);
        return result;
    }
    close(folder);
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        Fail(result, OutputStatus::FileFailed, EEXIST);
        return result;
    }
    std::string native = rootNative_;
    for (const std::string& part : parts)
        native += '/' + part;
    file.Adopt(fd, native + '/' + name);
    return result;
}

bool OutputTree::RemoveFile(std::string_view relative) {
    OutputResult result;
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return false;
    const std::string name = parts.back();
    parts.pop_back();
    const int folder = OpenFolders(parts, false, result);
    if (folder < 0) return false;
    struct stat st;
    const bool removed = fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         !S_ISDIR(st.st_mode) && unlinkat(folder, name.c_str(), 0) == 0;
    close(folder);
    return removed;
}

} // namespace dvl::platform
