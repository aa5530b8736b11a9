// Encrypted real archives tested and extracted with their passwords, and
// without one.
#include "tests/support/test_support.h"
#include "tests/unace/ace_walk.h"

#include "unace/unace.h"

#include <gtest/gtest.h>

namespace dvl::test {
namespace {

using namespace unace;
namespace fs = std::filesystem;

TEST(AceEncryption, FixturesWithAndWithoutTheirPasswords) {
    const fs::path root = PeerFixtures();
    if (root.empty() || !fs::is_directory(root / "ace"))
        GTEST_SKIP() << "the peer ACE fixtures are absent (DVL_PEER_FIXTURES)";
    struct Case {
        const char* file;
        const char* password;
        int expected; // for each member that is not a directory
    };
    const Case cases[] = {
        {"Ace.encrypted.ace", "test", ACE_OK},
        {"Ace.encrypted.ace", nullptr, ACE_ENCRYPTED},
        {"passwd2.ace", "1234", ACE_OK},
        {"passwd2.ace", "4321", ACE_CRC_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " / " + (c.password ? c.password : "no password"));
        TempDir dir;
        const AceWalk walk = WalkAceArchive(
            root / "ace" / c.file,
            {.operation = ACE_EXTRACT, .destination = dir / "out", .password = c.password});
        ASSERT_FALSE(walk.members.empty());
        for (const WalkedMember& m : walk.members)
            EXPECT_EQ(m.result, (m.attributes & 0x10) ? ACE_OK : c.expected) << m.name;
        if (c.expected == ACE_OK && std::string(c.file) == "passwd2.ace") {
            EXPECT_EQ(ReadFile(dir / "out" / "passwd2.m4"), std::vector<uint8_t>(15859, 0));
        }
    }
}

} // namespace
} // namespace dvl::test
