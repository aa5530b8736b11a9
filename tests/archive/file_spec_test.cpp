#include "archive/file_spec.h"

#include <gtest/gtest.h>

#include <string>

namespace dvl {
namespace {

struct MatchCase {
    const char* a;
    const char* b;
    bool namesOnly;
    bool expected;
};

TEST(MatchFileSpec, Table) {
    const MatchCase cases[] = {
        {"README", "*.*", true, true},          // README becomes README.* first
        {"DOCS\\", "*.*", true, false},         // a folder entry has no name part
        {"a.txt", "A.TXT", false, true},        // ASCII letters fold
        {"\xE4.txt", "\xC4.txt", false, false}, // other letters compare by byte
        {"a?c", "abc", false, true},            // either side may hold "?"
        {"abc", "a?c", false, true},
        {"dir\\sub\\f.txt", "*.txt", false, true},
        {"dir\\sub\\f.txt", "dir\\*", false, true},
        {"dir\\sub\\f.txt", "other\\*", false, false},
        {"dir/sub/f.txt", "dir\\sub\\f.txt", false, true}, // slashes are backslashes
        {"dir\\f.txt", "f.txt", true, true},               // names only
        {"dir\\f.txt", "f.txt", false, false},
        {"f.txt", "*.doc", false, false},
        {"f.txt", "*", false, true},
        {"f", "f.", false, true}, // a trailing dot means no extension
        {"f.c", "f.", false, false},
        {"", "*", false, true},
        {"", "", false, false},
        {"x", "", false, false},
        {"x**", "x", false, true}, // stars may match the empty run
        {"ab", "a*b*c", false, false},
        {"archive.tar.gz", "*.gz", false, true},
        {"data.zip", "dat*.zip", true, true},
        {"data1.zip", "da?a?.zip", false, true},
        {"data.zip", "da?a?.zip", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchFileSpec(c.a, c.b, c.namesOnly), c.expected)
            << "'" << c.a << "' vs '" << c.b << "' namesOnly=" << c.namesOnly;
}

// Names full of stars on both sides made the walk exponential (a fuzzed ZIP
// took minutes), and a bound on it then failed long names that match: both
// kinds now get their true answer quickly.
TEST(MatchFileSpec, StarryAndLongNamesGetTheirAnswerQuickly) {
    std::string a, b;
    for (int i = 0; i < 40; ++i) {
        a += "*a";
        b += "*a";
    }
    EXPECT_FALSE(MatchFileSpec(a + "b", b + "c", false));
    EXPECT_TRUE(MatchFileSpec(a + "b", b + "b", false));
    EXPECT_FALSE(MatchFileSpec(std::string(5000, '*') + "x", std::string(5000, '*') + "y", false));
    std::string manyRuns;
    for (int i = 0; i < 20000; ++i)
        manyRuns += "*a";
    EXPECT_FALSE(MatchFileSpec(manyRuns + "x", manyRuns + "y", false));

    const std::string longName = std::string(100, 'a') + "b" + std::string(100, 'c') + ".txt";
    EXPECT_TRUE(MatchFileSpec(longName, "a*b*c*.txt", false));
    EXPECT_FALSE(MatchFileSpec(longName, "a*b*d*.txt", false));

    const std::string deepName = std::string(65000, 'd') + "\\f.txt";
    EXPECT_TRUE(MatchFileSpec(deepName, "*.txt", false));
    EXPECT_TRUE(MatchFileSpec(deepName, "*.*", false));
    EXPECT_TRUE(MatchFileSpec(deepName, "d*\\f.*", false));
    EXPECT_FALSE(MatchFileSpec(deepName, "*.doc", false));
}

} // namespace
} // namespace dvl
