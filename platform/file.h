// The file layer that the archive components read and write through.
//
// Operations that the callers treat as a result (open, create, close) return
// false on failure; reading, writing, seeking and sizing throw IoError, the
// "input/output error" that a caller lets propagate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dvl::platform {

class IoError : public std::runtime_error {
public:
    IoError(const std::string& what, int errorNumber)
        : std::runtime_error(what), errorNumber_(errorNumber) {}
    int ErrorNumber() const { return errorNumber_; } // errno; ENOSPC for a full disk
private:
    int errorNumber_;
};

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    bool OpenRead(std::string_view winPath); // read-only, existing file
    bool Create(std::string_view winPath);   // created or truncated, write-only
    bool Close();                            // false when closing failed; true when not open
    // Takes over an open descriptor; the native path is what messages name.
    void Adopt(int fd, std::string nativePath);
    int Descriptor() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& NativePath() const { return nativePath_; }

    int64_t Size(); // throws IoError
    // Cuts or extends the file to `size` bytes (zeros, a hole where the file
    // system keeps them); false when it could not.
    bool SetSize(int64_t size);
    void Seek(int64_t position); // absolute; throws IoError
    int64_t Position();          // throws IoError
    // Reads up to n bytes; fewer only at the end of the file. Throws IoError.
    size_t Read(void* buffer, size_t n);
    // Writes up to n bytes; fewer only when the disk is full. Throws IoError on
    // other failures.
    size_t Write(const void* buffer, size_t n);

private:
    int fd_ = -1;
    std::string nativePath_;
};

} // namespace dvl::platform
