#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace dvl::platform {
namespace {

// Sets (or with nullptr removes) DOVREL_OEMCP and restores it afterwards.
class ScopedOemCodePage {
public:
    explicit ScopedOemCodePage(const char* value) {
        if (const char* old = std::getenv(kName)) saved_ = old;
        if (value)
            setenv(kName, value, 1);
        else
            unsetenv(kName);
    }
    ~ScopedOemCodePage() {
        if (saved_)
            setenv(kName, saved_->c_str(), 1);
        else
            unsetenv(kName);
    }

private:
    static constexpr const char* kName = "DOVREL_OEMCP";
    std::optional<std::string> saved_;
};

std::string AllBytes(int from, int to) {
    std::string s;
    for (int b = from; b <= to; ++b)
        s += char(b);
    return s;
}

TEST(CodepageConvert, KnownCharactersOfRealCodePages) {
    struct Case {
        const char* codePage; // nullptr: the default
        std::string oem;
        std::string ansi;
    } cases[] = {
        {nullptr, "\x81\x84\x94", "üäö"},
        {"437", "M\x81nchen \x9B\xE0", "München ¢α"},
        {"850", "\x9B\xD1", "øÐ"},
        {"852", "\xA5\x9B", "ąŤ"},
        {"866", "\x8F\xE0\xA8\xA2\xA5\xE2", "Привет"},
        {"864", "100%", "100%"}, // maps "%" to an Arabic sign; ASCII stays ASCII
        {"bogus", "\x81", "ü"},  // an unusable setting falls back to 437
        {"99999", "\x81", "ü"},
        {"12345", "\x81", "ü"}, // a number iconv does not know
    };
    for (const Case& c : cases) {
        ScopedOemCodePage cp(c.codePage);
        const char* name = c.codePage ? c.codePage : "default";
        EXPECT_EQ(OemToAnsi(c.oem), c.ansi) << name;
        EXPECT_EQ(AnsiToOem(c.ansi), c.oem) << name;
    }
}

TEST(CodepageConvert, AsciiPassesUnchangedAndHighBytesRoundTrip) {
    const std::string ascii = AllBytes(0, 0x7F);
    for (const char* cp : {"437", "850", "852", "866", "864", "857"}) {
        ScopedOemCodePage set(cp);
        EXPECT_EQ(OemToAnsi(ascii), ascii) << cp;
        EXPECT_EQ(AnsiToOem(ascii), ascii) << cp;
    }
    for (const char* cp : {"437", "850", "852", "866"}) {
        ScopedOemCodePage set(cp);
        const std::string high = AllBytes(0x80, 0xFF);
        const std::string ansi = OemToAnsi(high);
        EXPECT_EQ(ansi.find('?'), std::string::npos) << cp;
        EXPECT_EQ(AnsiToOem(ansi), high) << cp;
    }
}

TEST(CodepageConvert, UnconvertibleBecomesQuestionMark) {
    ScopedOemCodePage cp("437");
    struct Case {
        std::string ansi;
        std::string oem;
    } cases[] = {
        {"€uro", "?uro"},
        {"日本.txt", "??.txt"},
        {"a\xFF"
         "b",
         "a?b"},         // not UTF-8
        {"a\xC3", "a?"}, // cut sequence at the end
        {"\xE2\x82"
         "x",
         "?x"},                      // cut sequence in the middle
        {"\xED\xA0\x80", "?"},       // an encoded surrogate is not a character
        {"\xF0\x9F\x98\x80!", "?!"}, // outside the BMP
        {"ü€ä", "\x81?\x84"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AnsiToOem(c.ansi), c.oem) << c.ansi;

    // Bytes a code page leaves undefined.
    ScopedOemCodePage turkish("857");
    EXPECT_EQ(OemToAnsi("a\xD5"
                        "b\xE7"),
              "a?b?");
}

TEST(CodepageConvert, DoubleByteCodePage) {
    ScopedOemCodePage cp("932");
    // The trail byte 0x7B of the second character is below 0x80.
    const std::string oem = "\x93\xFA\x96\x7B.txt";
    if (OemToAnsi("\x82\xA0") != "あ") GTEST_SKIP() << "iconv has no code page 932";
    EXPECT_EQ(OemToAnsi(oem), "日本.txt");
    EXPECT_EQ(AnsiToOem("日本.txt"), oem);
    EXPECT_EQ(OemToAnsi("a\x93"), "a?"); // a lead byte without its trail
}

} // namespace
} // namespace dvl::platform
