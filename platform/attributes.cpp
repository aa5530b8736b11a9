#include "platform/attributes.h"

#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {

namespace {

std::string_view LastComponent(std::string_view native) {
    while (native.size() > 1 && native.back() == '/')
        native.remove_suffix(1);
    size_t sep = native.rfind('/');
    return sep == std::string_view::npos ? native : native.substr(sep + 1);
}

mode_t ModeFor(mode_t current, uint32_t externalAttr) {
    const bool readOnly = (externalAttr & kAttrReadOnly) != 0;
    const uint32_t unixMode = externalAttr >> 16;
    mode_t mode;
    if ((unixMode & 0170000) == 0100000)
        mode = mode_t(unixMode & 0777);
    else
        mode = (current & 0777) | (readOnly ? 0 : S_IWUSR);
    if (readOnly) mode &= ~mode_t(0222);
    return mode;
}

} // namespace

std::optional<uint32_t> GetFileAttributes(std::string_view winPath) {
    if (winPath.empty()) return std::nullopt;
    std::string native = ToNativePath(winPath);
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return std::nullopt;
    uint32_t attr = 0;
    if (!(st.st_mode & S_IWUSR)) attr |= kAttrReadOnly;
    std::string_view name = LastComponent(native);
    if (name.size() > 1 && name[0] == '.' && name != "..") attr |= kAttrHidden;
    if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
    if (S_ISREG(st.st_mode)) attr |= kAttrArchive;
    return attr;
}

bool ApplyExternalAttributes(File& file, uint32_t externalAttr) {
    struct stat st;
    if (!file.IsOpen() || fstat(file.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return fchmod(file.Descriptor(), ModeFor(st.st_mode, externalAttr)) == 0;
}

bool ApplyExternalAttributes(std::string_view winPath, uint32_t externalAttr) {
    if (winPath.empty()) return false;
    std::string native = ToNativePath(winPath);
    // Work on an open descriptor so that a symbolic link planted in the place
    // of the written file is never followed.
    int fd = open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0) {
        bool ok = fstat(fd, &st) == 0;
        // Folders keep their permissions: a read-only folder stays writable on
        // Windows, and clearing its bits here would stop the extraction below it.
        if (ok && S_ISREG(st.st_mode))
            ok = fchmod(fd, ModeFor(st.st_mode, externalAttr)) == 0;
        else if (ok)
            ok = S_ISDIR(st.st_mode);
        close(fd);
        return ok;
    }
    // A file without read permission cannot be opened; fall back to the name.
    if (errno != EACCES) return false;
    if (lstat(native.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode);
    return chmod(native.c_str(), ModeFor(st.st_mode, externalAttr)) == 0;
}

} // namespace dvl::platform
