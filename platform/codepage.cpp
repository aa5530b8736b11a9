#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace dvl::platform {

namespace {

constexpr int kDefaultOemCodePage = 437;

int OemCodePage() {
    const char* env = std::getenv("DOVREL_OEMCP");
    if (!env) return kDefaultOemCodePage;
    int cp = 0;
    for (const char* p = env; *p; ++p) {
        if (*p < '0' || *p > '9' || cp > 65535) return kDefaultOemCodePage;
        cp = cp * 10 + (*p - '0');
    }
    return (cp > 0 && cp <= 65535) ? cp : kDefaultOemCodePage;
}

// iconv descriptors, one pair per code page and thread (a descriptor keeps
// conversion state and must not be shared between threads).
class Converters {
public:
    ~Converters() {
        // A code page that fell back to 437 shares its descriptor.
        std::set<iconv_t> distinct;
        for (auto& [key, cd] : open_)
            if (cd != invalid()) distinct.insert(cd);
        for (iconv_t cd : distinct)
            iconv_close(cd);
    }

    // A descriptor from the code page to UTF-8 (toUtf8) or back; falls back
    // to code page 437 when iconv does not know the one asked for, and gives
    // an invalid descriptor only when not even that is there.
    iconv_t Get(int codePage, bool toUtf8) {
        auto key = std::make_pair(codePage, toUtf8);
        auto it = open_.find(key);
        if (it != open_.end()) return it->second;
        iconv_t cd = OpenFor(codePage, toUtf8);
        if (cd == invalid() && codePage != kDefaultOemCodePage)
            cd = Get(kDefaultOemCodePage, toUtf8);
        open_.emplace(key, cd);
        return cd;
    }

    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    static iconv_t OpenFor(int codePage, bool toUtf8) {
        const std::string number = std::to_string(codePage);
        const std::string names[] = {codePage == 65001 ? "UTF-8" : "CP" + number, "IBM" + number,
                                     number};
        for (const std::string& name : names) {
            iconv_t cd =
                toUtf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
            if (cd != invalid()) return cd;
        }
        return invalid();
    }

    std::map<std::pair<int, bool>, iconv_t> open_;
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

std::string OemToAnsi(std::string_view oem) {
    return Convert(oem, true);
}

std::string AnsiToOem(std::string_view ansi) {
    return Convert(ansi, false);
}

} // namespace dvl::platform
