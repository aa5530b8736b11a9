#include "archive/file_spec.h"

#include "archive/text.h"

#include <string>
#include <unordered_set>

namespace dvl {

namespace {

bool SameLetter(char x, char y) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    return fold(x) == fold(y);
}

// One side of a match as the walk sees it: a piece of the name as it came
// in, possibly followed by the ".*" that a dotless name is given. Every text
// the walk meets is such a piece, so no text is ever copied.
struct Text {
    std::string_view base;
    bool dotStar = false;

    size_t Size() const { return base.size() + (dotStar ? 2 : 0); }
    bool Empty() const { return Size() == 0; }
    char At(size_t i) const { return i < base.size() ? base[i] : ".*"[i - base.size()]; }
    Text From(size_t k) const {
        if (k <= base.size()) return {base.substr(k), dotStar};
        return {std::string_view(".*").substr(k - base.size()), false};
    }
    bool HasDot() const { return dotStar || base.find('.') != std::string_view::npos; }
    bool HasDotStar() const { return dotStar || base.find(".*") != std::string_view::npos; }
    bool AllStars(size_t from = 0) const {
        for (size_t i = from; i < Size(); ++i)
            if (At(i) != '*') return false;
        return true;
    }
};

// A dotless name is given ".*" when the other side has one, so that README
// matches "*.*"; a trailing dot means "no extension" and is dropped.
void NormaliseDot(Text& name, const Text& other) {
    if (!name.dotStar && !name.base.empty() && name.base.back() == '.')
        name.base.remove_suffix(1);
    else if (!name.HasDot() && other.HasDotStar())
        name.dotStar = true;
}

struct CallKey {
    const char* a;
    size_t aSize;
    bool aDotStar;
    const char* b;
    size_t bSize;
    bool bDotStar;
    bool operator==(const CallKey&) const = default;
};

struct CallKeyHash {
    size_t operator()(const CallKey& k) const {
        size_t h = std::hash<const void*>()(k.a);
        for (size_t v :
             {size_t(k.aSize), size_t(k.aDotStar), size_t(k.b), k.bSize, size_t(k.bDotStar)})
            h = h * 1000003u ^ v;
        return h;
    }
};

// The walk tries every split of the other side at each star. Remembering the
// pairs that failed keeps it polynomial however many stars both names hold;
// the step budget only guards against names long and starry on both sides.
class Matcher {
public:
    bool Match(Text a, Text b) {
        if (++steps_ > kMaxSteps) return false;
        // Each star run nests one call; a name made of thousands of them
        // gives up like one that exhausts the budget, before the stack does.
        if (depth_ >= kMaxDepth) {
            steps_ = kMaxSteps + 1;
            return false;
        }
        const CallKey key{a.base.data(), a.base.size(), a.dotStar,
                          b.base.data(), b.base.size(), b.dotStar};
        if (failed_.count(key)) return false;
        ++depth_;
        const bool matched = Walk(a, b);
        --depth_;
        if (!matched) failed_.insert(key);
        return matched;
    }

private:
    static constexpr long kMaxSteps = 1L << 21;
    static constexpr int kMaxDepth = 2000;

    bool Walk(Text a, Text b) {
        NormaliseDot(a, b);
        NormaliseDot(b, a);
        if (a.Empty()) return !b.Empty() && b.AllStars();
        if (b.Empty()) return a.AllStars();

        size_t i = 0, j = 0;
        while (i < a.Size() && j < b.Size()) {
            const char x = a.At(i), y = b.At(j);
            if (x == '?' || y == '?') {
                ++i, ++j;
            } else if (x == '*' || y == '*') {
                // A star on either side may swallow any run of the other side.
                // A run of stars swallows no more than one does.
                const bool starInA = x == '*';
                const Text& starSide = starInA ? a : b;
                size_t after = (starInA ? i : j) + 1;
                while (after < starSide.Size() && starSide.At(after) == '*')
                    ++after;
                const Text pattern = starSide.From(after);
                const Text text = starInA ? b : a;
                if (pattern.Empty()) return true;
                for (size_t k = starInA ? j : i; k <= text.Size(); ++k) {
                    const bool ok =
                        starInA ? Match(pattern, text.From(k)) : Match(text.From(k), pattern);
                    if (ok) return true;
                    if (steps_ > kMaxSteps) return false;
                }
                return false;
            } else if (SameLetter(x, y)) {
                ++i, ++j;
            } else {
                return false;
            }
        }
        return i < a.Size() ? a.AllStars(i) : b.AllStars(j);
    }

    std::unordered_set<CallKey, CallKeyHash> failed_;
    long steps_ = 0;
    int depth_ = 0;
};

} // namespace

bool MatchFileSpec(std::string_view a0, std::string_view b0, bool namesOnly) {
    std::string a = SlashToBackslash(a0), b = SlashToBackslash(b0);
    if (namesOnly) {
        a = ExtractFileName(a);
        b = ExtractFileName(b);
    }
    if ((!a0.empty() && a.empty()) || (!b0.empty() && b.empty())) return false;
    Matcher matcher;
    return matcher.Match({a, false}, {b, false});
}

} // namespace dvl
