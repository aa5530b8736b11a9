// The four operations on archives built byte by byte: listing, testing and
// extracting stored members, the blocks a reader steps over, the results of
// damaged or unsupported members, hostile names and the data callback.
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/unace/ace_walk.h"

#include "platform/times.h"
#include "unace/unace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::test {
namespace {

using namespace unace;
namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245 + 12345;
        data[i] = uint8_t(seed >> 16);
    }
    return data;
}

AceMemberSpec Stored(const std::string& name, std::vector<uint8_t> data) {
    AceMemberSpec m;
    m.name = name;
    m.data = std::move(data);
    return m;
}

AceMemberSpec Directory(const std::string& name) {
    AceMemberSpec m;
    m.name = name;
    m.directory = true;
    m.attributes = 0x10;
    return m;
}

class AceApiTest : public ::testing::Test {
protected:
    // Writes the archive; when `peerMustAccept`, the peer decoder must test it
    // clean before the test trusts it.
    fs::path Save(const std::vector<uint8_t>& bytes, const std::string& name = "a.ace",
                  bool peerMustAccept = true) {
        const fs::path path = dir_ / name;
        WriteFile(path, bytes);
        if (peerMustAccept && HaveTool("unace")) {
            EXPECT_TRUE(PeerUnaceTestsOk(path)) << "the peer decoder rejects " << name;
        }
        return path;
    }
    fs::path Save(const AceArchiveSpec& spec, const std::string& name = "a.ace") {
        return Save(BuildAceArchive(spec), name);
    }

    TempDir dir_;
};

TEST_F(AceApiTest, ListsTestsAndExtractsStoredMembers) {
    AceArchiveSpec spec;
    spec.members = {Directory("docs"), Stored("docs\\readme.txt", Bytes("Hello, ACE!\r\n")),
                    Stored("big.bin", Pattern(200000)), Stored("empty.txt", {}),
                    Stored("sub\\deeper\\ro.txt", Bytes("read only"))};
    spec.members[4].attributes = 0x21;
    AceMemberSpec wide = Stored("wide.txt", Bytes("64-bit sizes"));
    wide.wideHeader = true;
    spec.members.push_back(wide);
    const fs::path archive = Save(spec);

    const AceWalk list = WalkAceArchive(archive, {.operation = ACE_SKIP});
    ASSERT_EQ(list.openResult, ACE_OK);
    EXPECT_EQ(list.endResult, ACE_END_ARCHIVE);
    ASSERT_EQ(list.members.size(), spec.members.size());
    for (size_t i = 0; i < spec.members.size(); ++i) {
        EXPECT_EQ(list.members[i].name, spec.members[i].name);
        EXPECT_EQ(list.members[i].volume, "a.ace");
        EXPECT_EQ(list.members[i].size, int64_t(spec.members[i].data.size()));
        EXPECT_EQ(list.members[i].result, ACE_OK);
    }

    for (const WalkedMember& m : WalkAceArchive(archive, {.operation = ACE_TEST}).members)
        EXPECT_EQ(m.result, ACE_OK) << m.name;

    const fs::path out = dir_ / "out" / "nested";
    const AceWalk extract = WalkAceArchive(archive, {.operation = ACE_EXTRACT, .destination = out});
    for (const WalkedMember& m : extract.members)
        EXPECT_EQ(m.result, ACE_OK) << m.name;
    EXPECT_TRUE(fs::is_directory(out / "docs"));
    EXPECT_EQ(ReadFile(out / "docs" / "readme.txt"), Bytes("Hello, ACE!\r\n"));
    EXPECT_EQ(ReadFile(out / "big.bin"), spec.members[2].data);
    EXPECT_TRUE(fs::exists(out / "empty.txt"));
    EXPECT_EQ(fs::file_size(out / "empty.txt"), 0u);
    EXPECT_EQ(ReadFile(out / "wide.txt"), Bytes("64-bit sizes"));

    struct stat st;
    ASSERT_EQ(stat((out / "big.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, *platform::UnixFromDosDateTime(kAceTestTime));
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    ASSERT_EQ(stat((out / "sub" / "deeper" / "ro.txt").c_str(), &st), 0);
    EXPECT_FALSE(st.st_mode & S_IWUSR) << "the read-only attribute is applied";
}

TEST_F(AceApiTest, TestingWritesNothing) {
    AceArchiveSpec spec;
    spec.members = {Directory("d"), Stored("d\\f.txt", Bytes("x"))};
    const fs::path archive = Save(spec);
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_.Path());
    const AceWalk walk = WalkAceArchive(archive, {.operation = ACE_TEST});
    fs::current_path(cwd);
    ASSERT_EQ(walk.members.size(), 2u);
    EXPECT_FALSE(fs::exists(dir_ / "d"));
}

TEST_F(AceApiTest, InvalidDatesBecomeTheDosEpoch) {
    AceArchiveSpec spec;
    spec.members = {Stored("zero.txt", Bytes("z"))};
    spec.members[0].time = 0;
    const fs::path out = dir_ / "out";
    WalkAceArchive(Save(spec), {.operation = ACE_EXTRACT, .destination = out});
    struct stat st;
    ASSERT_EQ(stat((out / "zero.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, *platform::UnixFromDosDateTime(0x00210000));
}

// Blocks and prefixes that come before or between the members.
TEST_F(AceApiTest, StepsOverWhatIsNotAMember) {
    struct Case {
        const char* what;
        size_t stubSize;
        bool recovery, unknown, comment;
    };
    const Case cases[] = {
        {"recovery record", 0, true, false, false},
        {"unknown block type", 0, false, true, false},
        {"main comment", 0, false, false, true},
        {"self-extractor stub of 65000 bytes", 65000, false, false, false},
        {"self-extractor stub of 500000 bytes", 500000, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AceArchiveSpec spec;
        spec.members = {Stored("one.txt", Bytes("first")), Stored("two.txt", Bytes("second"))};
        if (c.stubSize) {
            spec.sfxStub.assign(c.stubSize, 0);
            spec.sfxStub[0] = 'M';
            spec.sfxStub[1] = 'Z';
            // A signature whose block is no main header must not stop the search.
            const std::string fake = "**ACE**";
            std::copy(fake.begin(), fake.end(), spec.sfxStub.begin() + 100);
        }
        spec.recoveryRecord = c.recovery;
        spec.unknownBlock = c.unknown;
        // "main comment", compressed.
        if (c.comment)
            spec.mainComment = {0x14, 0x74, 0x18, 0x00, 0x3f, 0x7d, 0x35, 0x4d, 0x2a, 0xf1,
                                0x7d, 0x5f, 0x6c, 0x1b, 0x7c, 0xa8, 0x5a, 0x5f, 0x27, 0x07,
                                0x00, 0x00, 0xe0, 0x0e, 0x00, 0x00, 0x00, 0x00};
        const AceWalk walk = WalkAceArchive(Save(spec), {.operation = ACE_TEST});
        ASSERT_EQ(walk.openResult, ACE_OK);
        ASSERT_EQ(walk.members.size(), 2u);
        EXPECT_EQ(walk.members[1].name, "two.txt");
        EXPECT_EQ(walk.members[0].result, ACE_OK);
        EXPECT_EQ(walk.members[1].result, ACE_OK);
        EXPECT_EQ(walk.endResult, ACE_END_ARCHIVE);
    }
}

TEST_F(AceApiTest, OpenResults) {
    AceArchiveSpec spec;
    spec.members = {Stored("x.txt", Bytes("x"))};
    std::vector<uint8_t> good = BuildAceArchive(spec);
    std::vector<uint8_t> brokenMain = good;
    brokenMain[15] ^= 1; // a version byte under the main header CRC
    std::vector<uint8_t> farStub(525000, 0);
    farStub.insert(farStub.end(), good.begin(), good.end());
    fs::create_directory(dir_ / "folder.ace");

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int expected;
    };
    const Case cases[] = {
        {"good.ace", good, ACE_OK},
        {"empty.ace", {}, ACE_NOT_ACE},
        {"zeros.ace", std::vector<uint8_t>(4096, 0), ACE_NOT_ACE},
        {"broken-main.ace", brokenMain, ACE_CRC_ERROR},
        {"far-stub.exe", farStub, ACE_NOT_ACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WalkAceArchive(Save(c.bytes, c.name, false)).openResult, c.expected);
    }
    EXPECT_EQ(WalkAceArchive(dir_ / "missing.ace").openResult, ACE_FILE_NOT_FOUND);
    EXPECT_EQ(WalkAceArchive(dir_ / "folder.ace").openResult, ACE_FILE_NOT_FOUND);
    if (geteuid() != 0) {
        const fs::path locked = Save(good, "locked.ace", false);
        fs::permissions(locked, fs::perms::none);
        EXPECT_EQ(WalkAceArchive(locked).openResult, ACE_OPEN_ERROR);
    }
}

TEST_F(AceApiTest, WrongConstantsAndBadHandles) {
    AceArchiveSpec spec;
    spec.members = {Stored("x.txt", Bytes("x"))};
    const std::string name = WinPath(Save(spec));
    AceOpenData open;
    open.ArcName = name.c_str();
    open.OpenMode = 2;
    EXPECT_EQ(ACEOpenArchive(&open), nullptr);
    EXPECT_EQ(open.OpenResult, ACE_WRONG_CONSTANT);

    open.OpenMode = ACE_OPEN_EXTRACT;
    AceArchive* handle = ACEOpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    AceHeaderData header;
    EXPECT_EQ(ACEProcessFile(handle, ACE_TEST, ""), ACE_END_ARCHIVE) << "no header read yet";
    ASSERT_EQ(ACEReadHeader(handle, &header), ACE_OK);
    EXPECT_EQ(ACEProcessFile(handle, 3, ""), ACE_WRONG_CONSTANT);
    EXPECT_EQ(ACEProcessFile(handle, -1, ""), ACE_WRONG_CONSTANT);
    EXPECT_EQ(ACEProcessFile(handle, ACE_TEST, ""), ACE_OK) << "the member is still waiting";
    EXPECT_EQ(ACEReadHeader(handle, &header), ACE_END_ARCHIVE);
    EXPECT_EQ(ACEReadHeader(handle, &header), ACE_END_ARCHIVE);
    EXPECT_EQ(ACECloseArchive(handle), ACE_OK);

    EXPECT_EQ(ACEReadHeader(nullptr, &header), ACE_BAD_HANDLE);
    EXPECT_EQ(ACEProcessFile(nullptr, ACE_TEST, ""), ACE_BAD_HANDLE);
    EXPECT_EQ(ACECloseArchive(nullptr), ACE_BAD_HANDLE);
}

// Members that cannot be decoded fail with their own result, leave no file
// behind, and do not stop the walk over the following members.
TEST_F(AceApiTest, MembersThatFail) {
    struct Case {
        const char* what;
        void (*change)(AceMemberSpec&);
        int expected;
    };
    const Case cases[] = {
        {"data CRC mismatch", [](AceMemberSpec& m) { m.crcOverride = 0x12345678; }, ACE_CRC_ERROR},
        {"encrypted",
         [](AceMemberSpec& m) {
             m.extraFlags = 0x4000;
             m.data.resize(16);
         },
         ACE_ENCRYPTED},
        {"unknown compression type",
         [](AceMemberSpec& m) {
             m.compType = 3;
             m.packed = m.data;
         },
         ACE_UNKNOWN_METHOD},
        {"dictionary beyond 4 MiB",
         [](AceMemberSpec& m) {
             m.compType = 1;
             m.parm = 13;
             m.packed = std::vector<uint8_t>(16, 0);
         },
         ACE_CRC_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AceArchiveSpec spec;
        spec.members = {Stored("bad.txt", Bytes("sixteen bytes!!!")),
                        Stored("good.txt", Bytes("ok"))};
        c.change(spec.members[0]);
        const fs::path archive = Save(BuildAceArchive(spec), "a.ace", false);
        for (int operation : {ACE_TEST, ACE_EXTRACT}) {
            const fs::path out = dir_ / "out";
            fs::remove_all(out);
            const AceWalk walk =
                WalkAceArchive(archive, {.operation = operation, .destination = out});
            ASSERT_EQ(walk.members.size(), 2u);
            EXPECT_EQ(walk.members[0].result, c.expected);
            EXPECT_EQ(walk.members[1].result, ACE_OK);
            if (operation == ACE_EXTRACT) {
                EXPECT_FALSE(fs::exists(out / "bad.txt")) << "a failed member leaves no file";
                EXPECT_EQ(ReadFile(out / "good.txt"), Bytes("ok"));
            }
        }
    }
}

TEST_F(AceApiTest, DamagedArchives) {
    AceArchiveSpec spec;
    spec.members = {Stored("one.txt", Pattern(1000)), Stored("two.txt", Pattern(1000, 2))};
    const std::vector<uint8_t> good = BuildAceArchive(spec);
    const size_t secondHeader = good.size() - 1000 - 4 - 44;

    auto cut = [&](size_t size) {
        return std::vector<uint8_t>(good.begin(), good.begin() + long(size));
    };
    std::vector<uint8_t> flipped = good;
    flipped[secondHeader + 20] ^= 0x40;

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int second; // result of processing the second member, -1: no second header
        int endResult;
    };
    const Case cases[] = {
        {"cut inside the first member's data", cut(31 + 48 + 500), -1, ACE_READ_ERROR},
        {"cut inside the second header", cut(secondHeader + 10), -1, ACE_READ_ERROR},
        {"cut inside the second member's data", cut(good.size() - 1), ACE_READ_ERROR,
         ACE_READ_ERROR},
        {"second header changed", flipped, -1, ACE_CRC_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AceWalk walk = WalkAceArchive(Save(c.bytes, "d.ace", false), {.operation = ACE_TEST});
        ASSERT_EQ(walk.openResult, ACE_OK);
        ASSERT_EQ(walk.members.size(), c.second < 0 ? 1u : 2u);
        if (c.second >= 0) {
            EXPECT_EQ(walk.members[1].result, c.second);
        }
        EXPECT_EQ(walk.endResult, c.endResult);
        // Listing alone notices the damage as well.
        EXPECT_EQ(WalkAceArchive(dir_ / "d.ace", {.operation = ACE_SKIP}).endResult, c.endResult);
    }
}

// Names that try to leave the destination folder are kept inside it.
TEST_F(AceApiTest, HostileNamesStayInsideTheDestination) {
    struct Case {
        const char* stored;
        const char* written; // below the destination; empty: nothing written
    };
    const Case cases[] = {
        {"..\\..\\evil1.txt", "evil1.txt"},
        {"C:\\evil2.txt", "evil2.txt"},
        {"c:evil3.txt", "evil3.txt"},
        {"\\\\server\\share\\evil4.txt", "server/share/evil4.txt"},
        {"/tmp/evil5.txt", "tmp/evil5.txt"},
        {"a\\..\\..\\b\\evil6.txt", "a/b/evil6.txt"},
        {"x/../../evil7.txt", "x/evil7.txt"},
        {".\\.\\evil8.txt", "evil8.txt"},
        {"..", ""},
    };
    AceArchiveSpec spec;
    for (const Case& c : cases)
        spec.members.push_back(Stored(c.stored, Bytes(c.stored)));
    const fs::path out = dir_ / "x" / "out";
    const AceWalk walk = WalkAceArchive(Save(spec), {.operation = ACE_EXTRACT, .destination = out});
    ASSERT_EQ(walk.members.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].stored);
        std::string shown = cases[i].stored;
        std::replace(shown.begin(), shown.end(), '/', '\\');
        EXPECT_EQ(walk.members[i].name, shown) << "the header shows the stored name";
        if (*cases[i].written) {
            EXPECT_EQ(walk.members[i].result, ACE_OK);
            EXPECT_EQ(ReadFile(out / cases[i].written), Bytes(cases[i].stored));
        } else {
            EXPECT_EQ(walk.members[i].result, ACE_OPEN_ERROR);
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
        const fs::path relative = fs::relative(entry.path(), dir_.Path());
        const bool inside = *relative.begin() == "x" || relative == "a.ace";
        EXPECT_TRUE(inside) << entry.path() << " was written outside the destination";
    }
}

TEST_F(AceApiTest, FullDiskFailsTheMember) {
    SmallDisk disk(64 * 1024);
    DVL_REQUIRE_SMALL_DISK(disk);
    AceArchiveSpec spec;
    spec.members = {Stored("full.bin", Pattern(200000)), Stored("after.txt", Bytes("after"))};
    const fs::path archive = Save(spec);
    const AceWalk walk =
        WalkAceArchive(archive, {.operation = ACE_EXTRACT, .destination = disk.Path()});
    ASSERT_EQ(walk.members.size(), 2u);
    EXPECT_EQ(walk.members[0].result, ACE_DISK_FULL);
    EXPECT_FALSE(fs::exists(disk.Path() / "full.bin")); // no partial file stays
    EXPECT_EQ(walk.members[1].result, ACE_OK);
}

struct CallbackLog {
    std::vector<uint8_t> seen;
    int calls = 0;
    int stopAtCall = -1; // 0-based call that answers 0
};

int CollectData(void* userData, const unsigned char* data, int size) {
    auto* log = static_cast<CallbackLog*>(userData);
    log->seen.insert(log->seen.end(), data, data + size);
    return log->calls++ == log->stopAtCall ? 0 : 1;
}

TEST_F(AceApiTest, DataCallbackSeesTheOutputAndCanStop) {
    AceArchiveSpec spec;
    spec.members = {Stored("big.bin", Pattern(300000)), Stored("next.txt", Bytes("next"))};
    const fs::path archive = Save(spec);

    CallbackLog all;
    const AceWalk tested = WalkAceArchive(
        archive, {.operation = ACE_TEST, .processData = CollectData, .userData = &all});
    EXPECT_EQ(tested.members[0].result, ACE_OK);
    std::vector<uint8_t> expected = spec.members[0].data;
    expected.insert(expected.end(), {'n', 'e', 'x', 't'});
    EXPECT_EQ(all.seen, expected);
    EXPECT_GT(all.calls, 2) << "the data arrives in blocks";

    CallbackLog stop;
    stop.stopAtCall = 0;
    const fs::path out = dir_ / "out";
    const AceWalk stopped = WalkAceArchive(archive, {.operation = ACE_EXTRACT,
                                                     .destination = out,
                                                     .processData = CollectData,
                                                     .userData = &stop});
    ASSERT_EQ(stopped.members.size(), 2u);
    EXPECT_EQ(stopped.members[0].result, ACE_USER_BREAK);
    EXPECT_FALSE(fs::exists(out / "big.bin")) << "the abandoned member leaves no file";
    EXPECT_EQ(stopped.members[1].result, ACE_OK);
    EXPECT_EQ(ReadFile(out / "next.txt"), Bytes("next"));
}

TEST_F(AceApiTest, HeaderRecordFields) {
    AceArchiveSpec spec;
    AceMemberSpec m = Stored("dir\\\x84rger.txt", Bytes("data")); // CP437 0x84: a-umlaut
    m.attributes = 0x298A0021;
    m.quality = 3;
    spec.members = {m};
    const std::string name = WinPath(Save(spec));
    AceOpenData open;
    open.ArcName = name.c_str();
    AceArchive* handle = ACEOpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    AceHeaderData h;
    ASSERT_EQ(ACEReadHeader(handle, &h), ACE_OK);
    EXPECT_STREQ(h.ArcName, name.c_str());
    EXPECT_STREQ(h.FileName, "dir\\\xC3\xA4rger.txt");
    EXPECT_EQ(h.UnpSize, 4);
    EXPECT_EQ(h.PackSize, 4u);
    EXPECT_EQ(h.FileCRC, AceRawCrc(Bytes("data")));
    EXPECT_EQ(h.FileTime, kAceTestTime);
    EXPECT_EQ(h.FileAttr, 0x298A0021u);
    EXPECT_EQ(h.Method, 0u);
    EXPECT_EQ(h.Quality, 3u);
    ACECloseArchive(handle);
}

} // namespace
} // namespace dvl::test
