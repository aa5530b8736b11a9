// Helpers for tests that work on real files in temporary folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace dvl::test {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);

// True when the named program is on PATH.
bool HaveTool(const std::string& name);
// Runs a shell command line in a folder; returns its exit status.
int Run(const std::string& commandLine, const std::filesystem::path& workDir = {});
// Runs a command and returns what it wrote to standard output.
std::string RunAndCapture(const std::string& commandLine, int* status = nullptr);
// What `gzip -dc` makes of `stream` (gzip, compress or pack data); its exit
// status in `status`.
std::vector<uint8_t> GzipDecode(const std::vector<uint8_t>& stream, int* status = nullptr);

// A folder on a small file system of its own (a tmpfs of `bytes`), to run a
// disk full. Mounting needs privileges: without them Path() is empty.
class SmallDisk {
public:
    explicit SmallDisk(size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    const std::filesystem::path& Path() const { return mounted_ ? dir_.Path() : none_; }

private:
    TempDir dir_;
    std::filesystem::path none_;
    bool mounted_ = false;
};

// Folder of peer-made fixtures, or empty when absent.
std::filesystem::path PeerFixtures();

// Links a resource-only PE (a DLL) whose string table holds the given strings,
// with the mingw binutils; returns false when they are absent or fail.
bool MakeStringTablePe(const std::filesystem::path& out,
                       const std::vector<std::pair<int, std::string>>& strings);

// The bytes of a text.
std::vector<uint8_t> Bytes(const std::string& text);
// Little-endian fields appended to a record being built.
void PutLe16(std::vector<uint8_t>& out, uint32_t value);
void PutLe32(std::vector<uint8_t>& out, uint32_t value);

// The built dvl program.
const std::string& DvlProgram();

// Quotes a path for a shell command line.
std::string Quote(const std::filesystem::path& path);

} // namespace dvl::test

// Skips the current test when no small file system can be mounted here.
#define DVL_REQUIRE_SMALL_DISK(disk)                                                               \
    do {                                                                                           \
        if ((disk).Path().empty()) GTEST_SKIP() << "no small file system can be mounted here";     \
    } while (0)

// Skips the current test (with a message) when a peer tool is missing.
#define DVL_REQUIRE_TOOL(name)                                                                     \
    do {                                                                                           \
        if (!::dvl::test::HaveTool(name)) GTEST_SKIP() << "peer tool " << (name) << " is absent";  \
    } while (0)
