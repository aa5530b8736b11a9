#include "archive/file_spec.h"

#include "archive/text.h"

#include <string>

namespace dvl {

namespace {

bool SameLetter(char x, char y) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    return fold(x) == fold(y);
}

bool AllStars(std::string_view s, size_t from = 0) {
    return s.find_first_not_of('*', from) == std::string_view::npos;
}

// A dotless name is given ".*" when the other side's pattern has one, so that
// README matches "*.*"; a trailing dot means "no extension" and is dropped.
void NormaliseDot(std::string& name, const std::string& other) {
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    else if (name.find('.') == std::string::npos && other.find(".*") != std::string::npos)
        name += ".*";
}

// The walk tries every split of the other side at each star, which grows
// exponentially with the number of stars. Real names hold none, but a hostile
// archive can store names full of them: once the tries have looked at this
// many characters, the names count as different.
constexpr long kMaxMatchWork = 1L << 22;

bool Match(std::string_view a0, std::string_view b0, bool namesOnly, long& work) {
    work += long(a0.size() + b0.size()) + 1;
    if (work > kMaxMatchWork) return false;
    std::string a = SlashToBackslash(a0), b = SlashToBackslash(b0);
    if (namesOnly) {
        a = ExtractFileName(a);
        b = ExtractFileName(b);
    }
    if ((!a0.empty() && a.empty()) || (!b0.empty() && b.empty())) return false;
    NormaliseDot(a, b);
    NormaliseDot(b, a);
    if (a.empty()) return !b.empty() && AllStars(b);
    if (b.empty()) return AllStars(a);

    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i] == '?' || b[j] == '?') {
            ++i, ++j;
        } else if (a[i] == '*' || b[j] == '*') {
            // A star on either side may swallow any run of the other side.
            bool starInA = a[i] == '*';
            std::string_view pat =
                starInA ? std::string_view(a).substr(i + 1) : std::string_view(b).substr(j + 1);
            std::string_view text = starInA ? std::string_view(b) : std::string_view(a);
            size_t from = starInA ? j : i;
            if (pat.empty()) return true;
            for (size_t k = from; k <= text.size(); ++k) {
                bool ok = starInA ? Match(pat, text.substr(k), namesOnly, work)
                                  : Match(text.substr(k), pat, namesOnly, work);
                if (ok) return true;
                if (work > kMaxMatchWork) return false;
            }
            return false;
        } else if (SameLetter(a[i], b[j])) {
            ++i, ++j;
        } else {
            return false;
        }
    }
    return i < a.size() ? AllStars(a, i) : AllStars(b, j);
}

} // namespace

bool MatchFileSpec(std::string_view a, std::string_view b, bool namesOnly) {
    long work = 0;
    return Match(a, b, namesOnly, work);
}

} // namespace dvl
