// The UUE reader on text made by uuencode and on the peer fixtures.
#include "archive/lister/lorvex.h"
#include "platform/times.h"
#include "tests/archive/lister/listing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace dvl {
namespace {

namespace fs = std::filesystem;

class UueReader : public ::testing::Test {
protected:
    test::KeepCurrentDir keep;
    test::TempDir dir;
    test::TimeZone utc{"UTC0"};
};

TEST_F(UueReader, BeginLineAfterMailHeaders) {
    DVL_REQUIRE_TOOL("uuencode");
    test::WriteFile(dir / "payload", std::string(2000, 'z'));
    ASSERT_EQ(
        test::Run("{ printf 'From: someone@example.org\\r\\nSubject: begin here\\r\\n\\r\\n'; "
                  "uuencode payload name.zip; } > mail.uue",
                  dir.Path()),
        0);
    ASSERT_TRUE(platform::SetLastWriteTime(test::Win(dir / "mail.uue"), 1262347384));
    const auto l = test::List(dir / "mail.uue");
    ASSERT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 1u);
    const auto& e = l.entries[0];
    EXPECT_EQ(e.name, "name.zip");
    EXPECT_EQ(e.packed, int64_t(fs::file_size(dir / "mail.uue")));
    EXPECT_EQ(e.unpacked, e.packed);
    EXPECT_EQ(e.date, "2010-01-01 12:03:04");
    EXPECT_EQ(e.method, "");
    EXPECT_EQ(e.externalAttr, 0x20u);
    EXPECT_EQ(e.offset, 0);
    EXPECT_EQ(e.number, 1);
    // The entry counts in the totals.
    EXPECT_EQ(l.totals, 1);
    EXPECT_EQ(l.totalPacked, e.packed);

    const auto filtered = test::List(dir / "mail.uue", [](TLorvex& x) { x.SetFileSpec("*.txt"); });
    EXPECT_EQ(filtered.readFiles, std::vector<std::string>{"name.zip"});
    EXPECT_TRUE(filtered.entries.empty());
    EXPECT_EQ(filtered.totals, 0);
}

TEST_F(UueReader, BeginLineShapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"begin 644 spaced name.txt  \r\nM\n", "spaced name.txt"},
        {"x\nbegin 600 last.bin", "last.bin"},
        {"xbegin 644 not-at-line-start\nbegin 644 second\n", "second"},
        {std::string(600, '.') + "\nbegin 644 too-far\n", ""},
        {"begin 644\n", ""},
    };
    for (const auto& [text, name] : cases) {
        SCOPED_TRACE(name);
        // Mail headers first: text this short is not taken for UUE.
        std::string mail;
        for (int i = 0; i < 30; ++i)
            mail += "X-Line: " + std::to_string(i) + "\n";
        test::WriteFile(dir / "text.uue", mail + text);
        const auto l = test::List(dir / "text.uue");
        if (name.empty()) {
            EXPECT_TRUE(l.entries.empty());
        } else {
            ASSERT_EQ(l.entries.size(), 1u);
            EXPECT_EQ(l.entries[0].name, name);
        }
    }
}

// The third fixture is shorter than the 200 bytes below which a file is not
// taken for UUE.
TEST_F(UueReader, PeerFixtures) {
    const auto peer = test::PeerFixtures();
    if (peer.empty()) GTEST_SKIP() << "peer fixtures are absent";
    const std::pair<const char*, const char*> files[] = {
        {"uue/test_read_format_lha_header0.lzh.uu", "test_read_format_lha_header0.lzh"},
        {"uue/test_read_format_zip_comment_stored_1.zip.uu",
         "test_read_format_zip_comment_stored_1.zip"},
    };
    for (const auto& [file, name] : files) {
        SCOPED_TRACE(file);
        // Listed as .uue, which is how the extension fallback recognises it.
        fs::copy_file(peer / file, dir / "copy.uue", fs::copy_options::overwrite_existing);
        const auto l = test::List(dir / "copy.uue");
        ASSERT_EQ(l.entries.size(), 1u);
        EXPECT_EQ(l.entries[0].name, name);
    }
}

} // namespace
} // namespace dvl
