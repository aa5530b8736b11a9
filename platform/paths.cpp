#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace dvl::platform {

namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// Case-folded order with the bytes deciding between names that differ only in case.
bool LessIgnoringCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(FoldAscii(a[i]));
        auto cb = static_cast<unsigned char>(FoldAscii(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

DirHandle OpenDir(const std::string& native) {
    return DirHandle(opendir(native.empty() ? "." : native.c_str()));
}

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Bytes of the UTF-8 character at `pos`: names are UTF-8 text, and "?"
// stands for one character. A byte that starts no valid sequence counts alone.
size_t Utf8Length(std::string_view s, size_t pos) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    if (lead >= 0xF5) length = 1;
    if (length > s.size() - pos) return 1;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(s[pos + k]) & 0xC0) != 0x80) return 1;
    return length;
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

// Splits a Windows-form path into its folder part (without the separator) and
// its last component.
void SplitLast(std::string_view winPath, std::string_view& folder, std::string_view& name) {
    size_t sep = winPath.find_last_of("\\/");
    if (sep == std::string_view::npos) {
        // "C:name" keeps its drive as the folder.
        if (winPath.size() >= 2 && winPath[1] == ':') {
            folder = winPath.substr(0, 2);
            name = winPath.substr(2);
        } else {
            folder = {};
            name = winPath;
        }
        return;
    }
    folder = winPath.substr(0, sep == 0 ? 1 : sep);
    if (sep == 2 && winPath[1] == ':') folder = winPath.substr(0, 3);
    name = winPath.substr(sep + 1);
}

bool StatNative(const std::string& native, struct stat& st) {
    return stat(native.empty() ? "." : native.c_str(), &st) == 0;
}

// Tokens of a mask after the Windows conversion to DOS wildcards.
enum class MaskToken : char { Literal, Star, DosStar, DosQm, DosDot };

} // namespace

std::string ToNativeSpelling(std::string_view winPath) {
    if (winPath.size() >= 2 && winPath[1] == ':' &&
        ((winPath[0] >= 'A' && winPath[0] <= 'Z') || (winPath[0] >= 'a' && winPath[0] <= 'z')))
        winPath.remove_prefix(2);
    std::string out(winPath);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::string ToNativePath(std::string_view winPath) {
    std::string spelled = ToNativeSpelling(winPath);
    std::string out;
    out.reserve(spelled.size());
    size_t pos = 0;
    bool resolving = true;
    while (pos < spelled.size()) {
        if (spelled[pos] == '/') {
            out += '/';
            ++pos;
            continue;
        }
        size_t end = spelled.find('/', pos);
        if (end == std::string::npos) end = spelled.size();
        std::string_view component(spelled.data() + pos, end - pos);
        pos = end;
        if (!resolving || component == "." || component == "..") {
            out += component;
            continue;
        }
        std::string candidate = out;
        candidate += component;
        struct stat st;
        if (lstat(candidate.c_str(), &st) == 0) {
            out = std::move(candidate);
            continue;
        }
        // Look for the entry that matches ignoring case; the first in byte
        // order wins so that the choice does not depend on the directory order.
        std::string best;
        if (DirHandle dir = OpenDir(out)) {
            while (dirent* e = readdir(dir.get())) {
                if (IsDotEntry(e->d_name) || !EqualsIgnoringCase(e->d_name, component)) continue;
                if (best.empty() || std::string_view(e->d_name) < best) best = e->d_name;
            }
        }
        if (best.empty()) {
            // Nothing below a missing component can exist.
            resolving = false;
            out += component;
        } else {
            out += best;
        }
    }
    return out;
}

std::string ToWindowsPath(std::string_view nativePath) {
    std::string out(nativePath);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*" || mask == "*.*") return true;

    // The conversion Windows applies before matching: "?" becomes DOS_QM (which
    // also matches nothing before a dot or the end), "*" before a dot becomes
    // DOS_STAR (which never eats the last dot), and a dot before "?", "*" or
    // the end becomes DOS_DOT (which also matches the end of the name). This
    // makes "*." match names without an extension and "name.*" match "name".
    struct Token {
        MaskToken kind;
        char c;
    };
    std::vector<Token> tokens;
    tokens.reserve(mask.size());
    for (size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        char next = i + 1 < mask.size() ? mask[i + 1] : 0;
        if (c == '?')
            tokens.push_back({MaskToken::DosQm, 0});
        else if (c == '*')
            tokens.push_back({next == '.' ? MaskToken::DosStar : MaskToken::Star, 0});
        else if (c == '.' && (next == '?' || next == '*' || next == 0))
            tokens.push_back({MaskToken::DosDot, 0});
        else
            tokens.push_back({MaskToken::Literal, FoldAscii(c)});
    }

    const size_t n = name.size();
    const size_t lastDot = name.rfind('.');
    // reach[j]: the current mask position can stand at name position j.
    // Zero-width steps are closed over before each token, so the work stays
    // proportional to mask length times name length.
    std::vector<char> reach(n + 1, 0), next(n + 1, 0);
    reach[0] = 1;
    for (const Token& t : tokens) {
        std::fill(next.begin(), next.end(), 0);
        for (size_t j = 0; j <= n; ++j) {
            if (!reach[j]) continue;
            switch (t.kind) {
            case MaskToken::Literal:
                if (j < n && FoldAscii(name[j]) == t.c) next[j + 1] = 1;
                break;
            case MaskToken::Star:
                // Any run: every position from j on.
                for (size_t k = j; k <= n && !next[k]; ++k)
                    next[k] = 1;
                break;
            case MaskToken::DosStar:
                next[j] = 1;
                for (size_t k = j; k < n && k != lastDot; ++k)
                    next[k + 1] = 1;
                break;
            case MaskToken::DosQm:
                if (j == n || name[j] == '.')
                    next[j] = 1;
                else
                    next[j + Utf8Length(name, j)] = 1;
                break;
            case MaskToken::DosDot:
                if (j == n)
                    next[j] = 1;
                else if (name[j] == '.')
                    next[j + 1] = 1;
                break;
            }
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

std::vector<std::string> ListFiles(std::string_view winFolder, std::string_view mask) {
    std::vector<std::string> names;
    std::string folder = ToNativePath(winFolder);
    DirHandle dir = OpenDir(folder);
    if (!dir) return names;
    std::string prefix = folder.empty() ? std::string() : folder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    while (dirent* e = readdir(dir.get())) {
        if (IsDotEntry(e->d_name) || !MatchesMask(e->d_name, mask)) continue;
        if (e->d_type != DT_REG) {
            // Symbolic links and file systems without a type need a look.
            if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
            struct stat st;
            if (stat((prefix + e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        }
        names.emplace_back(e->d_name);
    }
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    return names;
}

bool NameExists(std::string_view winPath) {
    std::string_view folder, name;
    SplitLast(winPath, folder, name);
    if (name.empty()) return false;
    if (!HasWildcard(name)) {
        struct stat st;
        return lstat(ToNativePath(winPath).c_str(), &st) == 0;
    }
    DirHandle dir = OpenDir(ToNativePath(folder));
    if (!dir) return false;
    // "." and ".." would match "*" in every folder; they are not findings.
    while (dirent* e = readdir(dir.get()))
        if (!IsDotEntry(e->d_name) && MatchesMask(e->d_name, name)) return true;
    return false;
}

bool FileExists(std::string_view winPath) {
    struct stat st;
    return !winPath.empty() && StatNative(ToNativePath(winPath), st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::string_view winPath) {
    struct stat st;
    return !winPath.empty() && StatNative(ToNativePath(winPath), st) && S_ISDIR(st.st_mode);
}

bool CreateDirectory(std::string_view winPath) {
    if (winPath.empty()) return false;
    std::string native = ToNativePath(winPath);
    if (mkdir(native.c_str(), 0777) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(std::string_view winPath) {
    std::string native = ToNativePath(winPath);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    if (native.empty()) return false;
    struct stat st;
    if (stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    // Make every prefix that ends before a separator, then the whole path.
    for (size_t pos = 1; pos <= native.size(); ++pos) {
        if (pos < native.size() && native[pos] != '/') continue;
        if (native[pos - 1] == '/') continue;
        std::string prefix = native.substr(0, pos);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view winPath) {
    if (winPath.empty()) return false;
    std::string native = ToNativePath(winPath);
    struct stat st;
    if (lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(native.c_str()) == 0;
}

std::string GetCurrentDir() {
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size())) {
            buffer.resize(buffer.find('\0'));
            break;
        }
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    while (buffer.size() > 1 && buffer.back() == '/')
        buffer.pop_back();
    return ToWindowsPath(buffer);
}

bool SetCurrentDir(std::string_view winPath) {
    if (winPath.empty()) return false;
    return chdir(ToNativePath(winPath).c_str()) == 0;
}

} // namespace dvl::platform
