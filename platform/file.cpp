#include "platform/file.h"

#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dvl::platform {

namespace {

// The most one read or write call is asked for; Linux transfers no more anyway.
constexpr size_t kMaxChunk = size_t(1) << 30;

[[noreturn]] void Fail(const char* operation, const std::string& path, int error) {
    std::string what = "input/output error: ";
    what += operation;
    if (!path.empty()) what += " " + path;
    what += ": ";
    what += std::strerror(error);
    throw IoError(what, error);
}

} // namespace

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), nativePath_(std::move(other.nativePath_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        nativePath_ = std::move(other.nativePath_);
    }
    return *this;
}

bool File::OpenRead(std::string_view winPath) {
    Close();
    nativePath_ = ToNativePath(winPath);
    if (nativePath_.empty()) return false;
    // Non-blocking so that opening a FIFO cannot hang; only plain files are
    // accepted, as opening a folder or device for reading fails on Windows.
    int fd = open(nativePath_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool File::Create(std::string_view winPath) {
    Close();
    nativePath_ = ToNativePath(winPath);
    if (nativePath_.empty()) return false;
    fd_ = open(nativePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

void File::Adopt(int fd, std::string nativePath) {
    Close();
    fd_ = fd;
    nativePath_ = std::move(nativePath);
}

bool File::Close() {
    if (fd_ < 0) return true;
    // The descriptor is gone after close() whatever it returns; a failure
    // here can mean that written data did not reach the disk.
    int r = close(std::exchange(fd_, -1));
    return r == 0;
}

int64_t File::Size() {
    struct stat st;
    if (fstat(fd_, &st) != 0) Fail("size of", nativePath_, errno);
    return int64_t(st.st_size);
}

bool File::SetSize(int64_t size) {
    return size >= 0 && ftruncate(fd_, off_t(size)) == 0;
}

void File::Seek(int64_t position) {
    if (position < 0) Fail("seek in", nativePath_, EINVAL);
    if (lseek(fd_, off_t(position), SEEK_SET) < 0) Fail("seek in", nativePath_, errno);
}

int64_t File::Position() {
    off_t p = lseek(fd_, 0, SEEK_CUR);
    if (p < 0) Fail("position in", nativePath_, errno);
    return int64_t(p);
}

size_t File::Read(void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = read(fd_, p + done, std::min(n - done, kMaxChunk));
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail("read from", nativePath_, errno);
        }
        if (r == 0) break; // end of file
        done += size_t(r);
    }
    return done;
}

size_t File::Write(const void* buffer, size_t n) {
    const auto* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t r = write(fd_, p + done, std::min(n - done, kMaxChunk));
        if (r < 0) {
            if (errno == EINTR) continue;
            // A full disk (or an exhausted quota) is reported by the short count.
            if (errno == ENOSPC || errno == EDQUOT) break;
            Fail("write to", nativePath_, errno);
        }
        if (r == 0) break;
        done += size_t(r);
    }
    return done;
}

} // namespace dvl::platform
