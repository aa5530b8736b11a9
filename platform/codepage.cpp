#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <map>
#include <string>
#include <uchardet/uchardet.h>
#include <utility>
#include <vector>

namespace dvl::platform {

namespace {

// A guess needs this many bytes outside ASCII to go on.
constexpr size_t kMinGuessBytes = 4;
constexpr int kGuessRounds = 8;

const std::string kDefaultOemCodePage = "CP437";

// A code page as iconv names it: a number is "CP<n>" (or "IBM<n>", or the
// number, whichever iconv knows), other names stand as given; empty when
// iconv knows none of them.
std::string IconvName(const std::string& codePage) {
    std::vector<std::string> names;
    const bool number =
        !codePage.empty() &&
        std::all_of(codePage.begin(), codePage.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (number)
        names = {codePage == "65001" ? "UTF-8" : "CP" + codePage, "IBM" + codePage, codePage};
    else
        names = {codePage};
    for (const std::string& name : names) {
        iconv_t cd = iconv_open("UTF-8", name.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) continue;
        iconv_close(cd);
        return name;
    }
    return {};
}

std::string& ChosenCodePage() {
    static std::string chosen;
    return chosen;
}

// The code page of OEM names: the one chosen, else DOVREL_OEMCP's, else 437.
const std::string& OemCodePage() {
    if (!ChosenCodePage().empty()) return ChosenCodePage();
    // The variable is looked up again only when it changed.
    thread_local std::string environment, fromEnvironment = kDefaultOemCodePage;
    const char* env = std::getenv("DOVREL_OEMCP");
    const std::string value = env ? env : "";
    if (value != environment) {
        environment = value;
        const std::string name = value.empty() ? std::string() : IconvName(value);
        fromEnvironment = name.empty() ? kDefaultOemCodePage : name;
    }
    return fromEnvironment;
}

// iconv descriptors, one pair per code page and thread (a descriptor keeps
// conversion state and must not be shared between threads).
class Converters {
public:
    ~Converters() {
        for (auto& [key, cd] : open_)
            if (cd != invalid()) iconv_close(cd);
    }

    // A descriptor from the code page to UTF-8 (toUtf8) or back; invalid
    // when iconv cannot open it.
    iconv_t Get(const std::string& codePage, bool toUtf8) {
        auto key = std::make_pair(codePage, toUtf8);
        auto it = open_.find(key);
        if (it != open_.end()) return it->second;
        iconv_t cd =
            toUtf8 ? iconv_open("UTF-8", codePage.c_str()) : iconv_open(codePage.c_str(), "UTF-8");
        open_.emplace(key, cd);
        return cd;
    }

    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    std::map<std::pair<std::string, bool>, iconv_t> open_;
};

Converters& ThreadConverters() {
    thread_local Converters converters;
    return converters;
}

// Converts one character of `in` (starting at its first byte, taking up to
// maxLength bytes) and appends the result. Returns the bytes consumed, or 0
// when the bytes do not form a character the other side has.
size_t ConvertOne(iconv_t cd, std::string_view in, size_t maxLength, std::string& out) {
    char buffer[16];
    for (size_t length = 1; length <= maxLength && length <= in.size(); ++length) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = length;
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        if (r != size_t(-1) && srcLeft == 0) {
            // Some converters hold output back until flushed.
            iconv(cd, nullptr, nullptr, &dst, &dstLeft);
            // A best-fit or lossy conversion counts as none.
            if (r != 0) return 0;
            out.append(buffer, size_t(dst - buffer));
            return length;
        }
        if (errno != EINVAL) return 0; // invalid or not representable
        // EINVAL: an incomplete multibyte sequence; try one more byte.
    }
    return 0;
}

size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0xC2) return 1; // stray continuation or overlong lead: one bad byte
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF5) return 4;
    return 1;
}

std::string Convert(std::string_view in, bool toUtf8) {
    std::string out;
    out.reserve(in.size() + in.size() / 2);
    iconv_t cd = ThreadConverters().Get(OemCodePage(), toUtf8);
    size_t pos = 0;
    while (pos < in.size()) {
        const auto c = static_cast<unsigned char>(in[pos]);
        if (c < 0x80) {
            out += char(c);
            ++pos;
            continue;
        }
        // An OEM character is one byte, two in the double-byte code pages (up
        // to four are tried); a UTF-8 one is as long as its lead byte says.
        size_t maxLength = toUtf8 ? 4 : Utf8SequenceLength(c);
        size_t used =
            cd == Converters::invalid() ? 0 : ConvertOne(cd, in.substr(pos), maxLength, out);
        if (used == 0) {
            out += '?';
            used = toUtf8 ? 1 : maxLength;
            // An invalid UTF-8 sequence costs its bad bytes only.
            if (!toUtf8 && used > 1) {
                size_t valid = 1;
                while (valid < used && pos + valid < in.size() &&
                       (static_cast<unsigned char>(in[pos + valid]) & 0xC0) == 0x80)
                    ++valid;
                used = valid;
            }
        }
        pos += std::min(used, in.size() - pos);
    }
    return out;
}

} // namespace

bool SetOemCodePage(const std::string& codePage) {
    if (codePage.empty()) {
        ChosenCodePage().clear();
        return true;
    }
    std::string name = IconvName(codePage);
    if (name.empty()) return false;
    ChosenCodePage() = name;
    return true;
}

std::string CurrentOemCodePage() {
    return OemCodePage();
}

bool OemCodePageGiven() {
    return !ChosenCodePage().empty() || std::getenv("DOVREL_OEMCP") != nullptr;
}

std::string GuessCodePage(const std::vector<std::string>& names) {
    size_t highBytes = 0;
    std::string text;
    for (const std::string& name : names) {
        highBytes +=
            size_t(std::count_if(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; }));
        text += name;
        text += '\n';
    }
    if (highBytes < kMinGuessBytes) return {};
    uchardet_t detector = uchardet_new();
    // Short names give a detector little to go on; it sees them a few times.
    for (int round = 0; round < kGuessRounds; ++round)
        uchardet_handle_data(detector, text.data(), text.size());
    uchardet_data_end(detector);
    const std::string charset = uchardet_get_charset(detector);
    uchardet_delete(detector);
    // Only scripts whose bytes a detector tells apart are taken; Western
    // names stay in the OEM code page (437 and 850 look alike to any of them).
    static const char* const kTaken[] = {
        "IBM866",       "WINDOWS-1251", "KOI8-R",       "IBM855",      "ISO-8859-5",
        "MAC-CYRILLIC", "SHIFT_JIS",    "EUC-JP",       "ISO-2022-JP", "GB18030",
        "BIG5",         "EUC-KR",       "UHC",          "EUC-TW",      "ISO-8859-7",
        "WINDOWS-1253", "ISO-8859-8",   "WINDOWS-1255", "IBM862"};
    for (const char* taken : kTaken)
        if (charset == taken) return IconvName(charset == "SHIFT_JIS" ? "CP932" : charset);
    return {};
}

std::string OemToAnsi(std::string_view oem) {
    return Convert(oem, true);
}

std::string AnsiToOem(std::string_view ansi) {
    return Convert(ansi, false);
}

} // namespace dvl::platform
