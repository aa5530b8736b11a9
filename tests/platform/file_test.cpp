#include "platform/file.h"

#include "platform/paths.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Win(const fs::path& p) {
    return "C:" + ToWindowsPath(p.string());
}

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 131 + i / 251);
    return bytes;
}

template <typename F> int ErrorOf(F f) {
    try {
        f();
    } catch (const IoError& e) {
        return e.ErrorNumber();
    }
    return 0;
}

TEST(FileReadWrite, RoundTripWithSeeks) {
    TempDir dir;
    const std::vector<uint8_t> data = Pattern(3 << 20);
    {
        File out;
        ASSERT_TRUE(out.Create(Win(dir / "Data.bin")));
        EXPECT_EQ(out.NativePath(), (dir / "Data.bin").string());
        EXPECT_EQ(out.Write(data.data(), 1000), 1000u);
        EXPECT_EQ(out.Write(data.data() + 1000, data.size() - 1000), data.size() - 1000);
        EXPECT_EQ(out.Position(), int64_t(data.size()));
        EXPECT_TRUE(out.Close());
        EXPECT_FALSE(out.IsOpen());
    }
    EXPECT_EQ(ReadFile(dir / "Data.bin"), data);

    File in;
    ASSERT_TRUE(in.OpenRead(Win(dir / "DATA.BIN")));
    EXPECT_EQ(in.NativePath(), (dir / "Data.bin").string());
    EXPECT_EQ(in.Size(), int64_t(data.size()));
    std::vector<uint8_t> back(data.size() + 100);
    EXPECT_EQ(in.Read(back.data(), back.size()), data.size()); // short only at the end
    back.resize(data.size());
    EXPECT_EQ(back, data);
    EXPECT_EQ(in.Read(back.data(), 10), 0u);

    uint8_t window[16];
    in.Seek(123457);
    EXPECT_EQ(in.Position(), 123457);
    ASSERT_EQ(in.Read(window, sizeof window), sizeof window);
    EXPECT_TRUE(std::equal(window, window + 16, data.begin() + 123457));
    in.Seek(int64_t(data.size()) + 10); // past the end: reads give nothing
    EXPECT_EQ(in.Read(window, sizeof window), 0u);
}

TEST(FileCreate, TruncatesAndUsesTheUmask) {
    TempDir dir;
    WriteFile(dir / "old.txt", std::string(5000, 'x'));
    const mode_t saved = umask(027);
    File f;
    const bool created = f.Create(Win(dir / "OLD.TXT")) && f.Create(Win(dir / "new.txt"));
    umask(saved);
    ASSERT_TRUE(created);
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(fs::file_size(dir / "old.txt"), 0u);
    struct stat st;
    ASSERT_EQ(stat((dir / "new.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileFailures, OpenAndCreateReturnFalse) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    mkfifo((dir / "pipe").c_str(), 0600);
    File f;
    EXPECT_FALSE(f.OpenRead(Win(dir / "missing")));
    EXPECT_FALSE(f.OpenRead(Win(dir / "folder")));
    EXPECT_FALSE(f.OpenRead(Win(dir / "pipe"))); // neither blocks nor opens
    EXPECT_FALSE(f.OpenRead(""));
    EXPECT_FALSE(f.Create(Win(dir / "missing" / "x")));
    EXPECT_FALSE(f.Create(Win(dir / "folder")));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_TRUE(f.Close()); // not open
}

TEST(FileFailures, ReadWriteSeekSizeThrow) {
    TempDir dir;
    WriteFile(dir / "a", "abc");
    File in, out, closed;
    ASSERT_TRUE(in.OpenRead(Win(dir / "a")));
    ASSERT_TRUE(out.Create(Win(dir / "b")));
    char buffer[4];
    EXPECT_EQ(ErrorOf([&] { in.Write("x", 1); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { out.Read(buffer, 1); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { in.Seek(-1); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { closed.Size(); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { closed.Position(); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { closed.Read(buffer, 1); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { closed.Seek(0); }), EBADF);
    EXPECT_EQ(ErrorOf([&] { closed.Write("x", 0); }), 0); // nothing to write
}

TEST(FileFailures, FullDiskGivesAShortWrite) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    File f;
    ASSERT_TRUE(f.Create("/dev/full"));
    const std::vector<uint8_t> data = Pattern(10000);
    EXPECT_EQ(f.Write(data.data(), data.size()), 0u);
}

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST(FileMove, TransfersTheDescriptorAndLeaksNone) {
    TempDir dir;
    WriteFile(dir / "one", "1111");
    WriteFile(dir / "two", "22");
    const size_t before = OpenDescriptors();
    {
        File a;
        ASSERT_TRUE(a.OpenRead(Win(dir / "one")));
        File b(std::move(a));
        EXPECT_FALSE(a.IsOpen());
        EXPECT_TRUE(b.IsOpen());
        EXPECT_EQ(b.Size(), 4);

        File c;
        ASSERT_TRUE(c.OpenRead(Win(dir / "two")));
        c = std::move(b); // closes the file c had open
        EXPECT_FALSE(b.IsOpen());
        EXPECT_EQ(c.Size(), 4);
        EXPECT_EQ(c.NativePath(), (dir / "one").string());
        EXPECT_TRUE(a.Close());
        EXPECT_EQ(OpenDescriptors(), before + 1);

        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(c.OpenRead(Win(dir / "two"))); // reopening
        EXPECT_FALSE(c.OpenRead(Win(dir / "missing")));
        EXPECT_FALSE(c.IsOpen());
        ASSERT_TRUE(c.Create(Win(dir / "three")));
    } // the destructor closes
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace
} // namespace dvl::platform
