#include "platform/atomic_write.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {

namespace {

std::string FolderOf(const std::string& nativePath) {
    size_t slash = nativePath.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return nativePath.substr(0, slash);
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The rename itself is only durable once the folder's entry is on the disk.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A symbolic link (a settings file kept elsewhere) is followed, so that the
// rename replaces the file it names rather than the link.
std::string ReplacedFile(const std::string& nativePath) {
    struct stat st {};
    if (::lstat(nativePath.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return nativePath;
    char resolved[PATH_MAX];
    return ::realpath(nativePath.c_str(), resolved) != nullptr ? std::string(resolved) : nativePath;
}

} // namespace

bool WriteFileAtomically(const std::string& linkOrFile, std::string_view content) {
    const std::string nativePath = ReplacedFile(linkOrFile);
    std::string temp = nativePath + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    // Keep the permissions an existing file had; a new one gets the usual 0644.
    struct stat st {};
    mode_t mode = ::stat(nativePath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), nativePath.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(FolderOf(nativePath));
    return true;
}

bool ReadWholeFile(const std::string& nativePath, std::string& content) {
    content.clear();
    int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            content.clear();
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace dvl::platform
