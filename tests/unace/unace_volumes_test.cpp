// Multi-volume sets built byte by byte: members split across volumes, the
// change-volume callback and its modes, missing volumes, and volume names.
#include "tests/support/ace_lz77_encoder.h"
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/unace/ace_walk.h"

#include "archive/text.h"
#include "unace/unace.h"
#include "unace/volume_names.h"

#include <gtest/gtest.h>

namespace dvl::test {
namespace {

using namespace unace;
namespace fs = std::filesystem;

struct VolumeLog {
    std::vector<std::pair<std::string, int>> calls; // file-name part, mode
    int answerOpened = 1;
};

int LogVolumeChange(void* userData, const char* volume, int mode) {
    auto* log = static_cast<VolumeLog*>(userData);
    log->calls.emplace_back(ExtractFileName(volume), mode);
    return mode == ACE_VOL_OPENED ? log->answerOpened : 0;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 7 + i / 251);
    return data;
}

AceMemberSpec Stored(const std::string& name, std::vector<uint8_t> data) {
    AceMemberSpec m;
    m.name = name;
    m.data = std::move(data);
    return m;
}

class AceVolumesTest : public ::testing::Test {
protected:
    // Three volumes: "first.txt" and the start of "split.bin" in the first,
    // the middle of it in the second, its end and "last.txt" in the third.
    void SetUp() override {
        spec_.members = {Stored("first.txt", Bytes("first")), Stored("split.bin", Pattern(2500)),
                         Stored("last.txt", Bytes("last"))};
        const auto volumes = BuildAceVolumes(spec_, 1200);
        ASSERT_EQ(volumes.size(), 3u);
        const char* names[] = {"set.ace", "set.c00", "set.c01"};
        for (size_t i = 0; i < volumes.size(); ++i)
            WriteFile(dir_ / names[i], volumes[i]);
        if (HaveTool("unace")) {
            ASSERT_TRUE(PeerUnaceTestsOk(dir_ / "set.ace"));
        }
    }

    AceWalk Walk(int operation, VolumeLog& log, const fs::path& archive = {}) {
        return WalkAceArchive(archive.empty() ? dir_ / "set.ace" : archive,
                              {.operation = operation,
                               .destination = dir_ / "out",
                               .changeVolume = LogVolumeChange,
                               .userData = &log});
    }

    AceArchiveSpec spec_;
    TempDir dir_;
};

TEST_F(AceVolumesTest, SplitMemberIsReadAcrossVolumes) {
    for (int operation : {ACE_SKIP, ACE_TEST, ACE_EXTRACT}) {
        SCOPED_TRACE(operation);
        VolumeLog log;
        const AceWalk walk = Walk(operation, log);
        ASSERT_EQ(walk.members.size(), 3u);
        EXPECT_EQ(walk.endResult, ACE_END_ARCHIVE);
        const std::pair<std::string, int> expected[] = {{"set.c00", ACE_VOL_OPENED},
                                                        {"set.c01", ACE_VOL_OPENED}};
        EXPECT_EQ(log.calls, std::vector(std::begin(expected), std::end(expected)));
        const char* volumes[] = {"set.ace", "set.ace", "set.c01"};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(walk.members[i].result, ACE_OK);
            EXPECT_EQ(walk.members[i].volume, volumes[i]) << "the volume holding the header";
        }
    }
    EXPECT_EQ(ReadFile(dir_ / "out" / "split.bin"), spec_.members[1].data);
    EXPECT_EQ(ReadFile(dir_ / "out" / "last.txt"), Bytes("last"));
}

TEST_F(AceVolumesTest, MissingVolumeFailsTheMember) {
    fs::remove(dir_ / "set.c01");
    for (int operation : {ACE_TEST, ACE_EXTRACT}) {
        VolumeLog log;
        const AceWalk walk = Walk(operation, log);
        ASSERT_GE(walk.members.size(), 2u);
        EXPECT_EQ(walk.members[0].result, ACE_OK);
        EXPECT_EQ(walk.members[1].result, ACE_READ_ERROR);
        ASSERT_EQ(log.calls.size(), 2u);
        EXPECT_EQ(log.calls[1].second, ACE_VOL_MISSING);
        EXPECT_EQ(fs::path(log.calls[1].first).extension().string().substr(2), "01");
        EXPECT_FALSE(fs::exists(dir_ / "out" / "split.bin")) << "no partial file";
    }
}

TEST_F(AceVolumesTest, UnusableVolumesCountAsMissing) {
    // A volume whose number does not follow, and one that is no ACE file.
    const auto otherSet = BuildAceVolumes(spec_, 1200);
    struct Case {
        const char* what;
        std::vector<uint8_t> secondVolume;
    };
    const Case cases[] = {{"third volume in the place of the second", otherSet[2]},
                          {"not an archive", std::vector<uint8_t>(100, 'x')}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir_ / "set.c00", c.secondVolume);
        VolumeLog log;
        const AceWalk walk = Walk(ACE_TEST, log);
        ASSERT_GE(walk.members.size(), 2u);
        EXPECT_EQ(walk.members[1].result, ACE_READ_ERROR);
        ASSERT_EQ(log.calls.size(), 1u);
        EXPECT_EQ(log.calls[0].second, ACE_VOL_MISSING);
    }
}

TEST_F(AceVolumesTest, CallbackCanDeclineTheNextVolume) {
    VolumeLog log;
    log.answerOpened = 0;
    const AceWalk walk = Walk(ACE_EXTRACT, log);
    ASSERT_GE(walk.members.size(), 2u);
    EXPECT_EQ(walk.members[1].result, ACE_USER_BREAK);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_FALSE(fs::exists(dir_ / "out" / "split.bin"));
}

TEST_F(AceVolumesTest, StartingInALaterVolumeSkipsTheContinuedSegment) {
    VolumeLog log;
    const AceWalk walk = Walk(ACE_TEST, log, dir_ / "set.c01");
    ASSERT_EQ(walk.openResult, ACE_OK);
    ASSERT_EQ(walk.members.size(), 1u);
    EXPECT_EQ(walk.members[0].name, "last.txt");
    EXPECT_EQ(walk.members[0].result, ACE_OK);
}

TEST_F(AceVolumesTest, VolumeNamesInEitherLetterCase) {
    fs::rename(dir_ / "set.ace", dir_ / "SET.ACE");
    fs::rename(dir_ / "set.c00", dir_ / "SET.C00");
    VolumeLog log;
    const AceWalk walk = Walk(ACE_TEST, log, dir_ / "SET.ACE");
    ASSERT_EQ(walk.members.size(), 3u);
    EXPECT_EQ(walk.members[1].result, ACE_OK);
    EXPECT_EQ(walk.members[2].result, ACE_OK);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].first, "SET.C00");
}

// A solid set of LZ77 members whose matches reach into earlier members, with
// a compressed stream split across volumes: any member can be extracted
// alone when the earlier ones are skipped in extract mode.
TEST(AceSolidVolumes, LaterMembersExtractAlone) {
    TempDir dir;
    AceArchiveSpec spec;
    spec.solid = true;
    std::vector<uint8_t> history;
    const std::string texts[] = {"the quick brown fox jumps over the lazy dog. ",
                                 "the lazy dog sleeps; the quick brown fox jumps again. ",
                                 "again and again the quick brown fox jumps over the dog."};
    for (int i = 0; i < 3; ++i) {
        AceMemberSpec m;
        m.name = "part" + std::to_string(i) + ".txt";
        for (int repeat = 0; repeat < 20; ++repeat)
            m.data.insert(m.data.end(), texts[i].begin(), texts[i].end());
        m.compType = 1;
        m.quality = 3;
        m.parm = 10;
        m.packed = EncodeAceLz77(ParseAceLz77(m.data, history, 20));
        history.insert(history.end(), m.data.begin(), m.data.end());
        spec.members.push_back(m);
    }
    const auto volumes = BuildAceVolumes(spec, 40);
    ASSERT_GE(volumes.size(), 3u);
    for (size_t i = 0; i < volumes.size(); ++i)
        WriteFile(dir / (i == 0 ? std::string("solid.ace") : "solid.c0" + std::to_string(i - 1)),
                  volumes[i]);
    if (HaveTool("unace")) {
        ASSERT_TRUE(PeerUnaceTestsOk(dir / "solid.ace"));
    }

    const std::string name = WinPath(dir / "solid.ace");
    const std::string dest = WinPath(dir / "out") + "\\";
    for (size_t wanted = 0; wanted < spec.members.size(); ++wanted) {
        SCOPED_TRACE(wanted);
        AceOpenData open;
        open.ArcName = name.c_str();
        open.OpenMode = ACE_OPEN_EXTRACT;
        AceArchive* handle = ACEOpenArchive(&open);
        ASSERT_NE(handle, nullptr);
        AceHeaderData header;
        for (size_t i = 0; ACEReadHeader(handle, &header) == ACE_OK; ++i)
            EXPECT_EQ(ACEProcessFile(handle, i == wanted ? ACE_EXTRACT : ACE_SKIP, dest.c_str()),
                      ACE_OK);
        ACECloseArchive(handle);
        EXPECT_EQ(ReadFile(dir / "out" / spec.members[wanted].name), spec.members[wanted].data);
    }
}

TEST(AceVolumeNames, FollowTheNumberingRule) {
    struct Case {
        const char* volume;
        std::vector<std::string> next;
    };
    const Case cases[] = {
        {"C:\\in\\set.ace", {"C:\\in\\set.c00", "C:\\in\\set.C00"}},
        {"SET.ACE", {"SET.C00", "SET.c00"}},
        {"setup.exe", {"setup.c00", "setup.C00"}},
        {"set.c00", {"set.c01", "set.C01"}},
        {"set.c98", {"set.c99", "set.C99"}},
        {"set.c99", {"set.100"}},
        {"set.100", {"set.101"}},
        {"set.999", {"set.1000"}},
        {"noext", {"noext.C00", "noext.c00"}},
        {"dir.v1\\name", {"dir.v1\\name.C00", "dir.v1\\name.c00"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextVolumeNames(c.volume), c.next) << c.volume;
}

} // namespace
} // namespace dvl::test
