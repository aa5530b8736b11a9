// Members of real archives and of hand-made ones, decoded and compared with their stored CRC
// and with what the peer decoder extracts.
#include "tests/support/test_support.h"
#include "tests/unace/decoder/member_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace dvl::test {
namespace {

namespace fs = std::filesystem;
using unace::AceDecoder;
using unace::DecodeResult;

fs::path AceFixture(const std::string& name) {
    const fs::path root = PeerFixtures();
    return root.empty() ? fs::path() : root / "ace" / name;
}

#define REQUIRE_FIXTURE(path)                                                                      \
    do {                                                                                           \
        if ((path).empty() || !fs::exists(path))                                                   \
            GTEST_SKIP() << "peer fixture " << (path) << " is absent";                             \
    } while (0)

// Decodes every member that lies wholly in the volumes, in archive order; a member split
// beyond the last volume ends the walk.
std::vector<std::pair<WalkedAceMember, DecodedMember>>
DecodeVolumes(const std::vector<fs::path>& paths, size_t piece = SIZE_MAX) {
    const WalkedAceVolume volume = WalkAceVolumes(paths);
    AceDecoder decoder;
    std::vector<std::pair<WalkedAceMember, DecodedMember>> decoded;
    for (const WalkedAceMember& m : volume.members) {
        if (m.Spans()) break;
        if (m.IsDirectory()) continue;
        if (!volume.solid) decoder.Reset();
        decoded.emplace_back(
            m, DecodeWith(decoder, m.compType, m.dictBits, m.origSize, m.packed, piece));
    }
    return decoded;
}

std::string NativeName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

struct RealArchive {
    const char* file;
    size_t members; // decodable in this volume (and the next)
    const char* nextVolume = nullptr;
};

class RealArchives : public testing::TestWithParam<RealArchive> {};

TEST_P(RealArchives, EveryMemberMatchesItsCrcAndThePeerExtraction) {
    const fs::path path = AceFixture(GetParam().file);
    REQUIRE_FIXTURE(path);
    std::vector<fs::path> volumes{path};
    if (GetParam().nextVolume) volumes.push_back(AceFixture(GetParam().nextVolume));
    const auto decoded = DecodeVolumes(volumes);
    ASSERT_EQ(decoded.size(), GetParam().members);

    TempDir out;
    const bool peer = HaveTool("unace");
    if (peer) test::Run("unace x -y " + Quote(path) + " </dev/null >/dev/null 2>&1", out.Path());
    for (const auto& [member, result] : decoded) {
        SCOPED_TRACE(member.name);
        ASSERT_EQ(result.result, DecodeResult::Ok);
        EXPECT_EQ(result.data.size(), member.origSize);
        EXPECT_EQ(RawCrc(result.data), member.crc);
        if (peer) {
            EXPECT_EQ(result.data, ReadFile(out / NativeName(member.name)));
        }
    }
    if (!peer) GTEST_SKIP() << "peer tool unace is absent; checked against the stored CRCs only";
}

INSTANTIATE_TEST_SUITE_P(Samples, RealArchives,
                         testing::Values(RealArchive{"onefile.ace", 1}, RealArchive{"ALCHT.ACE", 1},
                                         RealArchive{"Ace.method1.ace", 3},
                                         RealArchive{"Ace.method1-solid.ace", 3},
                                         RealArchive{"Ace.method2.ace", 3},
                                         RealArchive{"Ace.method2-solid.ace", 3},
                                         RealArchive{"multivol2.ace", 20},
                                         RealArchive{"multivol2.ace", 37, "multivol2.c00"}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             if (info.param.nextVolume) name += "_set";
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                             return name;
                         });

struct HandmadeArchive {
    const char* file;
    std::vector<std::string> contents; // per member; empty: not known beforehand
    bool crcMatches = true;
};

std::string ByteText(std::initializer_list<uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class HandmadeArchives : public testing::TestWithParam<HandmadeArchive> {};

// The PIC pair holds one stream with two CRCs: the decoder takes the signed reading of the
// kind-2 reference pixel, as the peer does.
TEST_P(HandmadeArchives, DecodeToTheirKnownContent) {
    const fs::path path = AceFixture(std::string("handmade/") + GetParam().file);
    REQUIRE_FIXTURE(path);
    const auto decoded = DecodeVolumes({path});
    const auto& contents = GetParam().contents;
    ASSERT_FALSE(decoded.empty());
    if (!contents.empty()) {
        ASSERT_EQ(decoded.size(), contents.size());
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        const auto& [member, result] = decoded[i];
        SCOPED_TRACE(member.name);
        ASSERT_EQ(result.result, DecodeResult::Ok);
        ASSERT_EQ(result.data.size(), member.origSize);
        if (!contents.empty()) {
            EXPECT_EQ(std::string(result.data.begin(), result.data.end()), contents[i]);
        }
        EXPECT_EQ(RawCrc(result.data) == member.crc, GetParam().crcMatches);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Handmade, HandmadeArchives,
    testing::Values(HandmadeArchive{"stored.ace", {"Hello, ACE!\r\n"}},
                    HandmadeArchive{"stored_min.ace", {"Hello, ACE!\r\n"}},
                    HandmadeArchive{"badcrc.ace", {}, false},
                    HandmadeArchive{"lz77_match.ace", {"abcabcabcabcZ"}},
                    HandmadeArchive{"lz77_rep.ace", {"abcdefghabcdabcbcbcdababbbb!"}},
                    HandmadeArchive{"solid.ace", {"hello world ", "  hello world!?"}},
                    HandmadeArchive{"b_exe.ace",
                                    {ByteText({0x41, 0x42, 0xe8, 0x00, 0x01, 0x00, 0x00, 0x43, 0x44,
                                               0x78, 0x79, 0x7a, 0x77, 0x45, 0x4e, 0x44})}},
                    HandmadeArchive{
                        "b_delta.ace",
                        {ByteText({0x0a, 0x14, 0x0b, 0x15, 0x0c, 0x16, 0x0d, 0x17, 0x6f, 0x6b})}},
                    HandmadeArchive{"pic_signed.ace", {}, true},
                    HandmadeArchive{"pic_unsigned.ace", {}, false}),
    [](const auto& info) {
        std::string name = info.param.file;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
        return name;
    });

// Packed data handed over one byte at a time reaches every refill path of the bit reader.
TEST(AceDecoderInput, ByteByByteInputDecodesTheSame) {
    const fs::path first = AceFixture("multivol2.ace"), second = AceFixture("multivol2.c00");
    REQUIRE_FIXTURE(second);
    const auto whole = DecodeVolumes({first, second});
    const auto bytewise = DecodeVolumes({first, second}, 1);
    ASSERT_EQ(whole.size(), bytewise.size());
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(bytewise[i].second.result, DecodeResult::Ok);
        EXPECT_EQ(bytewise[i].second.data, whole[i].second.data) << whole[i].first.name;
    }
}

} // namespace
} // namespace dvl::test
