#include "archive/dates.h"
#include "archive/text.h"
#include "archive/un_base.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "platform/times.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dvl {
namespace {

namespace fs = std::filesystem;

// Restores the process's current folder, which the components change.
class KeepCurrentDir {
public:
    KeepCurrentDir() : saved_(fs::current_path()) {}
    ~KeepCurrentDir() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

std::string Win(const fs::path& p) {
    return platform::ToWindowsPath(p.string());
}

TEST(ComponentCreation, Defaults) {
    TUnBase unbase(nullptr);
    EXPECT_EQ(unbase.FileSpec(), "*.*");
    EXPECT_EQ(unbase.ProgressNotify(), Ten);
    EXPECT_EQ(unbase.SetDateTo(), sdOrigDate);
    EXPECT_TRUE(unbase.UseStoredDirs());
    EXPECT_EQ(unbase.CpuType(), cptAuto);
    EXPECT_EQ(unbase.ArcType(), atNA);
    EXPECT_EQ(unbase.ZipCmntBufSize(), 0);
    EXPECT_TRUE(unbase.Passwords().empty());
    EXPECT_EQ(unbase.FileAttr().Mask(), 33u);
    EXPECT_TRUE(unbase.FileAttr().ftArchive());
    EXPECT_TRUE(unbase.FileAttr().ftReadOnly());
    EXPECT_FALSE(unbase.FileAttr().ftDirectory());
    EXPECT_EQ(TUnBase::Current(), &unbase);
    EXPECT_EQ(unbase.About(), "(DV)");
    unbase.SetAbout("other");
    EXPECT_EQ(unbase.About(), "(DV)");
}

TEST(ComponentCreation, OwnerDestroysWhatItOwns) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* first = new TUnBase(owner.get());
    new TZipCommon(owner.get());
    EXPECT_EQ(TUnBase::Current(), first);
    owner.reset();
    EXPECT_EQ(TUnBase::Current(), nullptr);
}

TEST(ComponentCreation, LoadedRestoresAnEmptyFileSpec) {
    TUnBase unbase(nullptr);
    unbase.SetFileSpec("x");
    unbase.Loaded();
    EXPECT_EQ(unbase.FileSpec(), "x");
}

TEST(ComponentSetters, Normalise) {
    TUnBase c(nullptr);
    const std::pair<int32_t, int32_t> sizes[] = {
        {0, 2000}, {40000, 32767}, {2000, 2000}, {-5, 2000}, {5000, 5000}};
    for (auto [in, out] : sizes) {
        c.SetZipCmntBufSize(in);
        EXPECT_EQ(c.ZipCmntBufSize(), out) << in;
    }
    c.SetFileSpec("");
    EXPECT_EQ(c.FileSpec(), "*.*");
    c.SetFileSpec("a/b/*.txt");
    EXPECT_EQ(c.FileSpec(), "a\\b\\*.txt");
    c.SetExtractDir("C:/out");
    EXPECT_EQ(c.ExtractDir(), "C:\\out\\");
    c.SetExtractDir("C:\\out\\");
    EXPECT_EQ(c.ExtractDir(), "C:\\out\\");
    c.SetExtractDir("");
    EXPECT_EQ(c.ExtractDir(), "");
    c.SetSetDateTo(sdSysDate);
    EXPECT_EQ(Library().setDateTo, sdSysDate);
    Library().setDateTo = sdOrigDate;
    EXPECT_EQ(c.SetDateTo(), sdSysDate);
    EXPECT_EQ(Library().setDateTo, sdSysDate);
    c.SetPasswords({"a", "b"});
    EXPECT_EQ(c.Passwords(), (std::vector<std::string>{"a", "b"}));
}

TEST(ComponentSetters, CancelSetsTheLibraryFlagAndPumpsOnce) {
    int pumped = 0;
    platform::SetProcessMessagesHook([&] { ++pumped; });
    TZipCommon c(nullptr);
    c.SetCancel(true);
    EXPECT_TRUE(c.Cancel());
    EXPECT_TRUE(Library().cancel);
    EXPECT_EQ(pumped, 1);
    c.ArchiveFile(); // reading the archive name clears both flags
    EXPECT_FALSE(c.Cancel());
    EXPECT_FALSE(Library().cancel);
    platform::SetProcessMessagesHook(nullptr);
}

TEST(ComponentSetters, ArchiveFileDetectsAndEntersItsFolder) {
    KeepCurrentDir keep;
    test::TempDir dir;
    fs::create_directory(dir / "in");
    test::WriteFile(dir / "in" / "x.zip", std::string("PK\3\4 and more bytes"));
    TZipCommon c(nullptr);
    Library().entryCount = 7;
    c.SetArchiveFile(Win(dir / "in") + "/x.zip");
    EXPECT_EQ(c.ArchiveFile(), Win(dir / "in" / "x.zip"));
    EXPECT_EQ(c.ArcType(), atZIP);
    EXPECT_EQ(c.ReadPos, 1);
    EXPECT_EQ(Library().entryCount, 0);
    EXPECT_EQ(fs::current_path(), dir / "in");
    c.SetExtractDir("");
    EXPECT_EQ(c.ExtractDir(), Win(dir / "in") + "\\");
    c.SetArchiveFile("");
    EXPECT_EQ(c.ArcType(), atNA);
}

TEST(TlvxFileAttr, FlagsKeepTheMaskInStepExceptDirectory) {
    TlvxFileAttr attr(33);
    attr.SetftHidden(true);
    EXPECT_EQ(attr.Mask(), 35u);
    attr.SetftHidden(true);
    EXPECT_EQ(attr.Mask(), 35u);
    attr.SetftReadOnly(false);
    EXPECT_EQ(attr.Mask(), 34u);
    attr.SetftSysFile(true);
    attr.SetftVolumeID(true);
    EXPECT_EQ(attr.Mask(), 46u);
    attr.SetftDirectory(true);
    EXPECT_EQ(attr.Mask(), 46u);
    EXPECT_TRUE(attr.ftDirectory());

    TlvxFileAttr copy(0);
    copy.Assign(attr);
    EXPECT_TRUE(copy.ftHidden() && copy.ftSysFile() && copy.ftDirectory() && copy.ftArchive());
    EXPECT_FALSE(copy.ftReadOnly());
    EXPECT_EQ(copy.Mask(), 0u); // the mask is not copied
}

struct OutputCase {
    const char* extractDir;
    bool storedDirs;
    const char* stored;
    const char* expected;
};

TEST(MakeOutputName, Table) {
    const OutputCase cases[] = {
        {"D:\\X\\", true, "C:\\DIR\\F.TXT", "D:\\X\\DIR\\F.TXT"},
        {"D:\\X\\", true, "/DIR/F.TXT", "D:\\X\\DIR\\F.TXT"},
        {"D:\\X\\", true, "a/b/c.txt", "D:\\X\\a\\b\\c.txt"},
        {"D:\\X\\", false, "a/b/c.txt", "D:\\X\\c.txt"},
        {"OUT\\", false, "a/b/c.txt", "\\OUT\\c.txt"},
        {"OUT\\", true, "c.txt", "\\OUT\\c.txt"},
        {"D:\\X\\", true, "DIR/", "D:\\X\\DIR\\"},
        {"D:\\X\\", true, "", ""},
        // Hostile names stay inside the destination.
        {"D:\\X\\", true, "..\\..\\x", "D:\\X\\x"},
        {"D:\\X\\", true, "a\\..\\..\\x", "D:\\X\\a\\x"},
        {"D:\\X\\", true, "/etc/x", "D:\\X\\etc\\x"},
        {"D:\\X\\", true, "C:..\\x", "D:\\X\\x"},
        {"D:\\X\\", true, "\\\\server\\share\\x", "D:\\X\\server\\share\\x"},
        {"D:\\X\\", true, "a\\\\\\b", "D:\\X\\a\\b"},
        {"D:\\X\\", true, "a\\.\\..\\b", "D:\\X\\a\\b"},
        {"D:\\X\\", true, "../..", "D:\\X\\"},
        {"D:\\X\\", true, "..", "D:\\X\\"},
        {"D:\\X\\", false, "..\\..", "D:\\X\\"},
    };
    for (const auto& c : cases) {
        TUnBase u(nullptr);
        u.SetExtractDir(c.extractDir);
        u.SetUseStoredDirs(c.storedDirs);
        u.MakeOutputName(c.stored);
        EXPECT_EQ(u.FileName, c.expected) << c.stored;
    }
}

TEST(MakeOutputName, HostileNamesNeverResolveOutside) {
    const char* hostile[] = {
        "..\\..\\x", "a\\..\\..\\x", "/etc/x", "C:..\\x",         "\\\\server\\share\\x",
        "a\\\\\\b",  "a\\.\\..\\b",  "..",     "x/../../../../y", "C:\\..\\..\\z",
        "...\\x",    "a/./../../b"};
    test::TempDir dir;
    const std::string root = Win(dir.Path()) + "\\";
    for (const char* name : hostile) {
        TUnBase u(nullptr);
        u.SetExtractDir(root);
        u.MakeOutputName(name);
        fs::path resolved = fs::weakly_canonical(platform::ToNativeSpelling(u.FileName));
        fs::path rel = resolved.lexically_relative(fs::canonical(dir.Path()));
        ASSERT_FALSE(rel.empty()) << name << " -> " << u.FileName;
        EXPECT_NE(*rel.begin(), "..") << name << " -> " << u.FileName;
    }
}

TEST(MakeOutputName, EmptyExtractDirTakesTheArchiveFolder) {
    TUnBase u(nullptr);
    u.MakeOutputName("f.txt");
    EXPECT_EQ(u.FileName, AddBackslash(platform::GetCurrentDir()) + "f.txt");
}

TEST(ConvertFileDate, FieldsAndInvalidValues) {
    TZipCommon c(nullptr);
    double v;
    platform::TryEncodeDate(2001, 2, 3, v);
    double t;
    platform::TryEncodeTime(4, 5, 6, 0, t);
    uint32_t dos = (21u << 25) | (2u << 21) | (3u << 16) | (4u << 11) | (5u << 5) | 3u;
    EXPECT_DOUBLE_EQ(c.ConvertFileDate(dos), v + t);
    EXPECT_DOUBLE_EQ(c.ConvertFileDate(0), 29221.0);
    const uint32_t invalid[] = {
        (21u << 25) | (13u << 21) | (3u << 16),              // month 13
        (21u << 25) | (0u << 21) | (3u << 16),               // month 0
        (21u << 25) | (2u << 21) | (30u << 16),              // 30 February
        (21u << 25) | (2u << 21) | (3u << 16) | (24u << 11), // hour 24
        (21u << 25) | (2u << 21) | (3u << 16) | (60u << 5),  // minute 60
        (21u << 25) | (2u << 21) | (3u << 16) | 30u,         // second 60
    };
    for (uint32_t d : invalid)
        EXPECT_DOUBLE_EQ(c.ConvertFileDate(d), 29221.0) << std::hex << d;
}

TEST(Ratio, Table) {
    const struct {
        int64_t packed, unpacked;
        int expected;
    } cases[] = {{0, 100, 0},   {999, 1000, 1},    {100, 100, 0},
                 {200, 100, 0}, {1, 1000000, 100}, {50, 100, 50},
                 {100, 0, 0},   {30, 100, 70},     {1000000, 5000000, 80}};
    for (const auto& c : cases)
        EXPECT_EQ(ComputeRatio(c.packed, c.unpacked), c.expected) << c.packed << "/" << c.unpacked;
}

TEST(TextHelpers, Table) {
    EXPECT_EQ(SlashToBackslash("a/b\\c/"), "a\\b\\c\\");
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("a"), "a\\");
    EXPECT_EQ(AddBackslash("a\\"), "a\\");
    EXPECT_EQ(ExtractFilePath("C:\\a\\b.zip"), "C:\\a\\");
    EXPECT_EQ(ExtractFilePath("C:b.zip"), "C:");
    EXPECT_EQ(ExtractFileName("C:\\a\\b.zip"), "b.zip");
    EXPECT_EQ(ExtractFileName("C:b.zip"), "b.zip");
    EXPECT_EQ(ExtractFileExt("a.b\\c.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("a.b\\c"), "");
    EXPECT_EQ(OctalValue("0000644 \0"), 0644u);
    EXPECT_EQ(OctalValue(" 1 2x9"), 012u);
    EXPECT_EQ(SwapHalves(0x12345678u), 0x56781234u);
    EXPECT_TRUE(HasWildcards("a*"));
    EXPECT_TRUE(HasWildcards("a?"));
    EXPECT_FALSE(HasWildcards("a.txt"));
}

TEST(NextVolumeName, Extensions) {
    KeepCurrentDir keep;
    test::TempDir dir;
    fs::current_path(dir.Path());
    const struct {
        const char* num;
        const char* ext;
        const char* numAfter;
    } cases[] = {{"0", "A01", "1"},   {"8", "A09", "9"},    {"9", "A10", "10"},
                 {"98", "A99", "99"}, {"99", "100", "100"}, {"998", "999", "999"},
                 {"999", "", "1000"}};
    for (const auto& c : cases) {
        std::string d, fn = "C:\\vols\\base.arj", num = c.num;
        std::string full = TZipCommon::NextVolumeName(d, fn, num);
        EXPECT_EQ(num, c.numAfter);
        if (*c.ext) {
            EXPECT_EQ(d, "C:\\vols\\");
            EXPECT_EQ(fn, std::string("base.") + c.ext);
            EXPECT_EQ(full, std::string("C:\\vols\\base.") + c.ext);
        } else {
            EXPECT_EQ(full, "");
            EXPECT_EQ(fn, "");
        }
    }
    // A volume beside us is taken from the current folder.
    test::WriteFile(dir / "set.arj", std::string("x"));
    std::string d, fn = "Z:\\elsewhere\\set.arj", num = "0";
    EXPECT_EQ(TZipCommon::NextVolumeName(d, fn, num), Win(dir.Path()) + "\\set.A01");
}

TEST(RequestVolume, WithoutHandlerReportsFileNotFound) {
    TZipCommon c(nullptr);
    std::vector<int32_t> codes;
    std::string volumeSeen;
    c.OnError = [&](TZipCommon*, const std::string&, const std::string& v, int32_t code) {
        codes.push_back(code);
        volumeSeen = v;
    };
    std::string d = "C:\\x\\", fn = "missing.a01";
    EXPECT_FALSE(c.RequestVolume(d, fn, "1"));
    EXPECT_EQ(codes, std::vector<int32_t>{25132});
    EXPECT_EQ(volumeSeen, "1");
}

TEST(RequestVolume, AsksUntilTheFileIsThereOrTheUserCancels) {
    KeepCurrentDir keep;
    test::TempDir dir;
    fs::create_directory(dir / "vols");
    test::WriteFile(dir / "vols" / "set.a01", std::string("x"));
    fs::current_path(dir.Path());

    TZipCommon c(nullptr);
    int asked = 0;
    c.OnNextVolume = [&](TZipCommon*, std::string& d, std::string& fn, const std::string& id,
                         bool& cancel) {
        EXPECT_EQ(id, "1");
        EXPECT_FALSE(cancel);
        if (++asked == 1) return; // the user pressed OK without changing anything
        d = Win(dir / "vols" / "set.a01");
        fn = "ignored";
    };
    std::string d = "C:\\nowhere\\", fn = "set.a01";
    EXPECT_TRUE(c.RequestVolume(d, fn, "1"));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(fn, "set.a01");
    EXPECT_EQ(d, Win(dir / "vols") + "\\");
    EXPECT_EQ(fs::current_path(), dir / "vols");

    c.OnNextVolume = [&](TZipCommon*, std::string&, std::string&, const std::string&,
                         bool& cancel) { cancel = true; };
    std::string d2 = "C:\\nowhere\\", fn2 = "other.a02";
    EXPECT_FALSE(c.RequestVolume(d2, fn2, "2"));

    // A volume that is there already needs no question.
    std::string d3, fn3 = "set.a01";
    EXPECT_TRUE(c.RequestVolume(d3, fn3, "1"));
    EXPECT_EQ(d3, platform::GetCurrentDir());
}

TEST(UnBaseOutput, TestTargetWritesNothing) {
    test::TempDir dir;
    TUnBase u(nullptr);
    u.Test();
    EXPECT_EQ(u.Target(), OutputTarget::Test);
    u.SetExtractDir(Win(dir.Path()));
    EXPECT_TRUE(u.CreateOutput("never").Ok());
    uint8_t bytes[3] = {1, 2, 3};
    size_t n = 3;
    EXPECT_TRUE(u.WriteOutput(bytes, n));
    EXPECT_EQ(n, 3u);
    EXPECT_FALSE(fs::exists(dir / "never"));

    u.Extract();
    EXPECT_EQ(u.Target(), OutputTarget::Files);
    ASSERT_TRUE(u.CreateOutput("sub\\out").Ok());
    EXPECT_TRUE(u.WriteOutput(bytes, n));
    EXPECT_FALSE(fs::exists(dir / "sub" / "out")); // written beside its name until committed
    EXPECT_TRUE(u.CommitOutput());
    EXPECT_EQ(test::ReadFile(dir / "sub" / "out"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(UnBaseOutput, ExtractTurnsThe486IntoAuto) {
    TUnBase u(nullptr);
    u.SetCpuType(cpt80486);
    u.Extract();
    EXPECT_EQ(u.CpuType(), cptAuto);
    u.SetCpuType(cpt80386);
    u.Extract();
    EXPECT_EQ(u.CpuType(), cpt80386);
}

} // namespace
} // namespace dvl
