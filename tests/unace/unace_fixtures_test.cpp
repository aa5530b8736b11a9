// Real archives made by the ACE archiver (and a few made by hand): listing,
// testing and extracting through the four operations, compared with what the
// peer decoder (unace 2.5) extracts from the same archive.
#include "tests/support/ace_writer.h"
#include "tests/support/test_support.h"
#include "tests/unace/ace_walk.h"

#include "archive/text.h"
#include "unace/unace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace dvl::test {
namespace {

using namespace unace;
namespace fs = std::filesystem;

fs::path AceFixtures() {
    const fs::path root = PeerFixtures();
    return root.empty() ? fs::path() : root / "ace";
}

#define DVL_REQUIRE_ACE_FIXTURES()                                                                 \
    do {                                                                                           \
        if (AceFixtures().empty() || !fs::is_directory(AceFixtures()))                             \
            GTEST_SKIP() << "the peer ACE fixtures are absent (DVL_PEER_FIXTURES)";                \
    } while (0)

struct FixtureCase {
    const char* file; // below fixtures/ace
    size_t members;   // directories included
    int fileResult;   // of testing each member that is not a directory
};

const FixtureCase kFixtures[] = {
    {"ALCHT.ACE", 1, ACE_OK},
    {"onefile.ace", 1, ACE_OK},
    {"t.ace", 2, ACE_OK},
    {"Ace.store.ace", 5, ACE_OK},
    {"Ace.method1.ace", 5, ACE_OK},
    {"Ace.method1-solid.ace", 5, ACE_OK},
    {"Ace.method2.ace", 5, ACE_OK},
    {"Ace.method2-solid.ace", 5, ACE_OK},
    {"Ace.store.split.ace", 5, ACE_OK},
    {"multivol2.ace", 41, ACE_OK},
    {"Ace.encrypted.ace", 5, ACE_ENCRYPTED},
    {"passwd2.ace", 1, ACE_ENCRYPTED},
    {"handmade/stored.ace", 1, ACE_OK},
    {"handmade/stored_min.ace", 1, ACE_OK},
    {"handmade/badcrc.ace", 1, ACE_CRC_ERROR},
    {"handmade/lz77_match.ace", 1, ACE_OK},
    {"handmade/lz77_rep.ace", 1, ACE_OK},
    {"handmade/solid.ace", 2, ACE_OK},
    {"handmade/b_exe.ace", 1, ACE_OK},
    {"handmade/b_delta.ace", 1, ACE_OK},
    {"handmade/pic_signed.ace", 1, ACE_OK},
};

bool IsDirectoryMember(const WalkedMember& m) {
    return (m.attributes & 0x10) != 0;
}

// Every plain file below a folder with its content, by relative path.
std::map<std::string, std::vector<uint8_t>> FilesBelow(const fs::path& root) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
    return files;
}

void ExpectSameFiles(const fs::path& ours, const fs::path& peer) {
    const auto mine = FilesBelow(ours);
    const auto theirs = FilesBelow(peer);
    ASSERT_FALSE(theirs.empty());
    std::set<std::string> names, peerNames;
    for (const auto& [name, bytes] : mine)
        names.insert(name);
    for (const auto& [name, bytes] : theirs)
        peerNames.insert(name);
    EXPECT_EQ(names, peerNames);
    for (const auto& [name, bytes] : theirs)
        if (mine.count(name)) {
            EXPECT_TRUE(mine.at(name) == bytes) << name << " differs";
        }
}

bool PeerExtracts(const fs::path& archive, const fs::path& into) {
    fs::create_directories(into);
    return Run("unace x -y " + Quote(archive) + " < /dev/null > /dev/null 2>&1", into) == 0;
}

TEST(AceFixtures, EveryMemberTestsAsExpected) {
    DVL_REQUIRE_ACE_FIXTURES();
    for (const FixtureCase& c : kFixtures) {
        SCOPED_TRACE(c.file);
        const AceWalk walk = WalkAceArchive(AceFixtures() / c.file, {.operation = ACE_TEST});
        ASSERT_EQ(walk.openResult, ACE_OK);
        EXPECT_EQ(walk.endResult, ACE_END_ARCHIVE);
        ASSERT_EQ(walk.members.size(), c.members);
        for (const WalkedMember& m : walk.members)
            EXPECT_EQ(m.result, IsDirectoryMember(m) ? ACE_OK : c.fileResult) << m.name;
        // Listing walks the same members.
        EXPECT_EQ(WalkAceArchive(AceFixtures() / c.file, {.operation = ACE_SKIP}).members.size(),
                  c.members);
    }
}

TEST(AceFixtures, ExtractionMatchesThePeer) {
    DVL_REQUIRE_ACE_FIXTURES();
    DVL_REQUIRE_PEER_UNACE();
    for (const FixtureCase& c : kFixtures) {
        if (c.fileResult != ACE_OK) continue;
        SCOPED_TRACE(c.file);
        TempDir dir;
        const fs::path archive = AceFixtures() / c.file;
        ASSERT_TRUE(PeerExtracts(archive, dir / "peer"));
        const AceWalk walk =
            WalkAceArchive(archive, {.operation = ACE_EXTRACT, .destination = dir / "ours"});
        for (const WalkedMember& m : walk.members)
            EXPECT_EQ(m.result, ACE_OK) << m.name;
        ExpectSameFiles(dir / "ours", dir / "peer");
    }
}

TEST(AceFixtures, HeadersShowNamesWithFoldersSizesAndVolumes) {
    DVL_REQUIRE_ACE_FIXTURES();
    const AceWalk t = WalkAceArchive(AceFixtures() / "t.ace", {.operation = ACE_SKIP});
    ASSERT_EQ(t.members.size(), 2u);
    EXPECT_EQ(t.members[0].name, "t");
    EXPECT_TRUE(IsDirectoryMember(t.members[0]));
    EXPECT_EQ(t.members[1].name, "t\\t.txt");
    EXPECT_EQ(t.members[1].size, 2);

    const AceWalk set = WalkAceArchive(AceFixtures() / "multivol2.ace", {.operation = ACE_SKIP});
    std::map<std::string, std::string> volumeOf;
    for (const WalkedMember& m : set.members)
        volumeOf[m.name] = m.volume;
    EXPECT_EQ(volumeOf["multivol2\\sdl2.m4"], "multivol2.ace") << "the split member starts here";
    EXPECT_EQ(set.members.back().volume, "multivol2.c00");

    const AceWalk one = WalkAceArchive(AceFixtures() / "onefile.ace", {.operation = ACE_SKIP});
    ASSERT_EQ(one.members.size(), 1u);
    EXPECT_EQ(one.members[0].name, "CHANGES.LOG");
    EXPECT_EQ(one.members[0].size, 38729);
}

struct VolumeLog {
    std::vector<std::pair<std::string, int>> calls;
};

int LogVolumeChange(void* userData, const char* volume, int mode) {
    static_cast<VolumeLog*>(userData)->calls.emplace_back(ExtractFileName(volume), mode);
    return mode == ACE_VOL_OPENED;
}

TEST(AceFixtures, TwoVolumeSets) {
    DVL_REQUIRE_ACE_FIXTURES();
    struct Case {
        const char* first;
        const char* second;
        const char* splitMember;
    };
    const Case cases[] = {{"multivol2.ace", "multivol2.c00", "multivol2\\sdl2.m4"},
                          {"Ace.store.split.ace", "Ace.store.split.c00", "jpg\\test.jpg"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        TempDir dir;
        fs::copy_file(AceFixtures() / c.first, dir / c.first);
        VolumeLog missing;
        const AceWalk alone = WalkAceArchive(
            dir / c.first,
            {.operation = ACE_TEST, .changeVolume = LogVolumeChange, .userData = &missing});
        ASSERT_FALSE(alone.members.empty());
        EXPECT_EQ(alone.members.back().name, c.splitMember);
        EXPECT_EQ(alone.members.back().result, ACE_READ_ERROR);
        for (size_t i = 0; i + 1 < alone.members.size(); ++i)
            EXPECT_EQ(alone.members[i].result, ACE_OK) << alone.members[i].name;
        ASSERT_EQ(missing.calls.size(), 1u);
        EXPECT_EQ(missing.calls[0].second, ACE_VOL_MISSING);
        EXPECT_EQ(UpperCaseAscii(missing.calls[0].first), UpperCaseAscii(c.second));

        fs::copy_file(AceFixtures() / c.second, dir / c.second);
        VolumeLog opened;
        const AceWalk both = WalkAceArchive(
            dir / c.first,
            {.operation = ACE_TEST, .changeVolume = LogVolumeChange, .userData = &opened});
        EXPECT_EQ(both.endResult, ACE_END_ARCHIVE);
        for (const WalkedMember& m : both.members)
            EXPECT_EQ(m.result, ACE_OK) << m.name;
        const std::vector<std::pair<std::string, int>> expected = {{c.second, ACE_VOL_OPENED}};
        EXPECT_EQ(opened.calls, expected);
    }
}

// In a solid archive the members before the wanted one are decoded, unwritten,
// when they are skipped.
TEST(AceFixtures, SolidArchiveExtractsALaterMemberAlone) {
    DVL_REQUIRE_ACE_FIXTURES();
    DVL_REQUIRE_PEER_UNACE();
    for (const char* file :
         {"Ace.method1-solid.ace", "Ace.method2-solid.ace", "handmade/solid.ace"}) {
        SCOPED_TRACE(file);
        TempDir dir;
        const fs::path archive = AceFixtures() / file;
        ASSERT_TRUE(PeerExtracts(archive, dir / "peer"));
        const std::string name = WinPath(archive);
        AceOpenData open;
        open.ArcName = name.c_str();
        open.OpenMode = ACE_OPEN_EXTRACT;
        AceArchive* handle = ACEOpenArchive(&open);
        ASSERT_NE(handle, nullptr);
        const std::string dest = AddBackslash(WinPath(dir / "ours"));
        AceHeaderData header;
        std::string last;
        while (ACEReadHeader(handle, &header) == ACE_OK) {
            last = header.FileName;
            ACEProcessFile(handle, ACE_SKIP, dest.c_str());
        }
        ACECloseArchive(handle);
        // Once more, extracting only the last member.
        handle = ACEOpenArchive(&open);
        ASSERT_NE(handle, nullptr);
        int result = -1;
        while (ACEReadHeader(handle, &header) == ACE_OK)
            result = ACEProcessFile(handle, last == header.FileName ? ACE_EXTRACT : ACE_SKIP,
                                    dest.c_str());
        ACECloseArchive(handle);
        EXPECT_EQ(result, ACE_OK);
        std::string relative = last;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const auto written = FilesBelow(dir / "ours");
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written.begin()->first, relative);
        EXPECT_TRUE(written.begin()->second == ReadFile(dir / "peer" / relative));
    }
}

// Cut copies never pass as complete; every byte of a stored archive is
// covered by a header or data CRC; damaged compressed data gives a result.
TEST(AceFixtures, DamagedCopiesGiveAnError) {
    DVL_REQUIRE_ACE_FIXTURES();
    TempDir dir;
    const fs::path copy = dir / "damaged.ace";
    auto failed = [](const AceWalk& w, size_t fullCount) {
        if (w.openResult != ACE_OK || w.endResult != ACE_END_ARCHIVE) return true;
        if (w.members.size() < fullCount) return true;
        for (const WalkedMember& m : w.members)
            if (m.result != ACE_OK) return true;
        return false;
    };
    for (const char* file : {"onefile.ace", "t.ace", "ALCHT.ACE", "handmade/lz77_rep.ace",
                             "handmade/b_delta.ace", "Ace.method2-solid.ace"}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> bytes = ReadFile(AceFixtures() / file);
        const size_t count = WalkAceArchive(AceFixtures() / file).members.size();
        for (size_t cut = 1; cut < bytes.size(); cut += std::max<size_t>(1, bytes.size() / 40)) {
            WriteFile(copy, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut)));
            EXPECT_TRUE(failed(WalkAceArchive(copy), count)) << "cut at " << cut;
        }
        for (size_t at = 0; at < bytes.size(); at += std::max<size_t>(1, bytes.size() / 60)) {
            std::vector<uint8_t> flipped = bytes;
            flipped[at] ^= 0x10;
            WriteFile(copy, flipped);
            WalkAceArchive(copy); // must end, whatever it finds
        }
    }
    const std::vector<uint8_t> stored = ReadFile(AceFixtures() / "handmade/stored.ace");
    for (size_t at = 0; at < stored.size(); ++at) {
        for (uint8_t bit : {0x01, 0x80}) {
            std::vector<uint8_t> flipped = stored;
            flipped[at] ^= bit;
            WriteFile(copy, flipped);
            EXPECT_TRUE(failed(WalkAceArchive(copy), 1)) << "byte " << at << " bit " << int(bit);
        }
    }
}

} // namespace
} // namespace dvl::test
