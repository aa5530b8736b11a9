#include "platform/output_tree.h"

#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
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

// Tags of temporary names: distinct within the process, hard to guess beyond it.
uint32_t NextTemporaryTag() {
    static uint32_t counter = uint32_t(getpid()) * 2654435761u ^ uint32_t(time(nullptr));
    counter = counter * 1664525u + 1013904223u;
    return counter;
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

Folder::~Folder() {
    close(fd);
}

FolderRef OutputTree::OpenFolders(const std::vector<std::string>& parts, bool create,
                                  OutputResult& result) const {
    std::string key;
    for (const std::string& part : parts)
        key += part + '/';
    // Entries of one folder follow each other: its descriptor is kept.
    if (lastFolder_ && key == lastFolderKey_) return lastFolder_;
    const int root = OpenRoot(create);
    if (root < 0) {
        Fail(result, OutputStatus::FolderFailed, errno);
        return nullptr;
    }
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (const std::string& part : parts) {
        if (fd < 0) break;
        int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
                Fail(result, OutputStatus::FolderFailed, errno);
                close(fd);
                return nullptr;
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
            return nullptr;
        }
        close(fd);
        fd = next;
    }
    if (fd < 0) {
        if (result.Ok()) Fail(result, OutputStatus::FolderFailed, errno);
        return nullptr;
    }
    lastFolder_ = std::make_shared<Folder>(fd);
    lastFolderKey_ = key;
    return lastFolder_;
}

FolderRef OutputTree::OpenParent(std::string_view relative, bool create, std::string& name,
                                 OutputResult& result) const {
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return nullptr;
    name = parts.back();
    parts.pop_back();
    return OpenFolders(parts, create, result);
}

OutputResult OutputTree::Check(std::string_view relative) const {
    OutputResult result;
    std::vector<std::string> parts;
    if (!SplitComponents(relative, parts, result)) return result;
    const int root = OpenRoot(false);
    if (root < 0) return result; // nothing below a missing destination exists
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (fd < 0) break;
        if (IsLink(fd, part)) {
            result.status = OutputStatus::LinkInPath;
            break;
        }
        if (i + 1 == parts.size() && IsProtected(fd, part)) {
            result.status = OutputStatus::Protected;
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
    OpenFolders(parts, true, result);
    return result;
}

OutputResult OutputTree::CreateFile(std::string_view relative, File& file, PendingFile& pending) {
    file.Close();
    pending.Discard();
    OutputResult result;
    std::string name;
    const FolderRef folder = OpenParent(relative, true, name, result);
    if (!folder) return result;

    struct stat st;
    if (fstatat(folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // Only a plain file is ever replaced.
        if (S_ISLNK(st.st_mode))
            result.status = OutputStatus::LinkInPath;
        else if (IsProtected(folder->fd, name))
            result.status = OutputStatus::Protected;
        else if (!S_ISREG(st.st_mode))
            Fail(result, OutputStatus::FileFailed, S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    } else if (errno != ENOENT) {
        Fail(result, OutputStatus::FileFailed, errno);
    }
    if (!result.Ok()) {
        return result;
    }

    // The file is written under a name of its own beside the final one.
    int fd = -1;
    std::string temporary;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char tag[32];
        std::snprintf(tag, sizeof tag, ".dvl%08X.tmp", unsigned(NextTemporaryTag()));
        temporary = tag;
        fd = openat(folder->fd, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        Fail(result, OutputStatus::FileFailed, errno);
        return result;
    }
    // Messages name the temporary file by its place.
    std::string native = rootNative_ + '/' + ToNativeSpelling(result.relative);
    native.resize(native.rfind('/') + 1);
    file.Adopt(fd, native + temporary);
    pending.folder_ = folder;
    pending.temporary_ = temporary;
    pending.final_ = name;
    return result;
}

void OutputTree::Protect(std::string_view winPath) {
    struct stat st;
    if (stat(ToNativePath(winPath).c_str(), &st) == 0)
        protected_.emplace_back(st.st_dev, st.st_ino);
}

bool OutputTree::IsProtected(int folderFd, const std::string& name) const {
    struct stat st;
    if (protected_.empty() || fstatat(folderFd, name.c_str(), &st, 0) != 0) return false;
    for (const auto& [device, inode] : protected_)
        if (st.st_dev == device && st.st_ino == inode) return true;
    return false;
}

bool PendingFile::Commit() {
    if (!Active()) return false;
    const bool renamed =
        renameat(folder_->fd, temporary_.c_str(), folder_->fd, final_.c_str()) == 0;
    const int error = errno;
    if (!renamed) unlinkat(folder_->fd, temporary_.c_str(), 0);
    Release();
    errno = error;
    return renamed;
}

void PendingFile::Discard() {
    if (!Active()) return;
    unlinkat(folder_->fd, temporary_.c_str(), 0);
    Release();
}

bool PendingFile::KeepAs(std::string_view suffix) {
    if (!Active()) return false;
    const std::string kept = FittedName(final_ + std::string(suffix));
    const bool renamed = renameat(folder_->fd, temporary_.c_str(), folder_->fd, kept.c_str()) == 0;
    if (!renamed) unlinkat(folder_->fd, temporary_.c_str(), 0);
    Release();
    return renamed;
}

void PendingFile::Release() {
    folder_.reset();
    temporary_.clear();
    final_.clear();
}

bool OutputTree::OpenForReading(std::string_view relative, File& file) const {
    OutputResult result;
    std::string name;
    const FolderRef folder = OpenParent(relative, false, name, result);
    if (!folder) return false;
    const int fd = openat(folder->fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        return false;
    }
    file.Adopt(fd, rootNative_ + '/' + std::string(relative));
    return true;
}

bool OutputTree::Exists(std::string_view relative) const {
    OutputResult result;
    std::string name;
    const FolderRef folder = OpenParent(relative, false, name, result);
    if (!folder) return false;
    struct stat st;
    const bool exists = fstatat(folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return exists;
}

std::string OutputTree::FreeName(std::string_view relative) const {
    const size_t separator = relative.find_last_of("\\/");
    const size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    const size_t dot = relative.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
    const std::string_view stem = hasExtension ? relative.substr(0, dot) : relative;
    const std::string_view extension = hasExtension ? relative.substr(dot) : std::string_view();
    for (int n = 1;; ++n) {
        std::string candidate(stem);
        candidate += " (" + std::to_string(n) + ")";
        candidate += extension;
        if (!Exists(candidate)) return candidate;
    }
}

bool OutputTree::RemoveFile(std::string_view relative) {
    OutputResult result;
    std::string name;
    const FolderRef folder = OpenParent(relative, false, name, result);
    if (!folder) return false;
    struct stat st;
    const bool removed = fstatat(folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         !S_ISDIR(st.st_mode) && unlinkat(folder->fd, name.c_str(), 0) == 0;
    return removed;
}

} // namespace dvl::platform
