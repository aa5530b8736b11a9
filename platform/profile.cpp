#include "platform/profile.h"

#include "platform/atomic_write.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace dvl::platform {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

// One line of the file without its line ending.
struct Line {
    std::string text;

    bool IsComment() const {
        std::string_view t = Trim(text);
        return !t.empty() && (t.front() == ';' || t.front() == '#');
    }
    std::optional<std::string_view> SectionName() const {
        std::string_view t = Trim(text);
        if (t.empty() || t.front() != '[') return std::nullopt;
        size_t close = t.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        return Trim(t.substr(1, close - 1));
    }
    bool IsKey() const { return !IsComment() && !SectionName() && text.find('=') != npos; }
    std::string_view Key() const { return Trim(std::string_view(text).substr(0, text.find('='))); }
    // A value in matching quotes is read without them.
    std::string_view Value() const {
        std::string_view value = Trim(std::string_view(text).substr(text.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }

    static constexpr size_t npos = std::string::npos;
};

struct Profile {
    std::vector<Line> lines;
    std::string lineEnding = "\n";

    // [begin, end) of the lines after the section's header; nothing when missing.
    std::optional<std::pair<size_t, size_t>> FindSection(std::string_view section) const {
        for (size_t i = 0; i < lines.size(); ++i) {
            auto name = lines[i].SectionName();
            if (!name || !SameName(*name, section)) continue;
            size_t end = i + 1;
            while (end < lines.size() && !lines[end].SectionName())
                ++end;
            return std::make_pair(i + 1, end);
        }
        return std::nullopt;
    }

    std::optional<size_t> FindKey(std::string_view section, std::string_view key) const {
        auto range = FindSection(section);
        if (!range) return std::nullopt;
        for (size_t i = range->first; i < range->second; ++i)
            if (lines[i].IsKey() && SameName(lines[i].Key(), key)) return i;
        return std::nullopt;
    }

    std::string Format() const {
        std::string out;
        for (const Line& line : lines)
            out += line.text + lineEnding;
        return out;
    }
};

Profile ParseProfile(std::string_view text) {
    Profile profile;
    size_t firstBreak = text.find('\n');
    if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
        profile.lineEnding = "\r\n";
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        profile.lines.push_back({std::string(line)});
    }
    return profile;
}

bool PathExists(const std::string& nativePath) {
    struct stat st {};
    return ::lstat(nativePath.c_str(), &st) == 0;
}

// A missing file is an empty profile; one that exists but can't be read
// yields nothing, so that a write never replaces content it could not see.
std::optional<Profile> LoadProfile(const std::string& nativePath) {
    std::string text;
    if (ReadWholeFile(nativePath, text)) return ParseProfile(text);
    if (PathExists(nativePath)) return std::nullopt;
    return Profile{};
}

bool ValidSectionName(std::string_view name) {
    return !Trim(name).empty() && name.find_first_of("]\r\n") == std::string_view::npos;
}

bool ValidKeyName(std::string_view name) {
    std::string_view t = Trim(name);
    return !t.empty() && t.front() != '[' && t.front() != ';' && t.front() != '#' &&
           name.find_first_of("=\r\n") == std::string_view::npos;
}

// The text of a value line: one line, and quoted when reading would otherwise
// drop its outer blanks or quotes.
std::string StoredValue(std::string_view value) {
    std::string out(value);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    bool outerBlank = !out.empty() && (kBlanks.find(out.front()) != std::string_view::npos ||
                                       kBlanks.find(out.back()) != std::string_view::npos);
    bool outerQuotes =
        out.size() >= 2 && (out.front() == '"' || out.front() == '\'') && out.back() == out.front();
    return (outerBlank || outerQuotes) ? "\"" + out + "\"" : out;
}

// Where a new key of the section goes: after its last line that isn't blank.
size_t InsertionPoint(const Profile& profile, std::pair<size_t, size_t> range) {
    size_t at = range.second;
    while (at > range.first && Trim(profile.lines[at - 1].text).empty())
        --at;
    return at;
}

template <typename Change>
void ChangeProfile(std::string_view section, std::string_view key, std::string_view iniPath,
                   Change change) {
    const std::string nativePath = ToNativePath(iniPath);
    const ProfileError failure("Unable to write to " + nativePath);
    if (!ValidSectionName(section) || !ValidKeyName(key)) throw failure;
    std::optional<Profile> profile = LoadProfile(nativePath);
    if (!profile) throw failure;
    if (!change(*profile)) return;
    if (!WriteFileAtomically(nativePath, profile->Format())) throw failure;
}

} // namespace

size_t GetPrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, char* buffer, size_t bufferSize,
                               std::string_view iniPath) {
    if (bufferSize == 0) return 0;
    std::optional<Profile> profile = LoadProfile(ToNativePath(iniPath));
    std::string_view value = defaultValue;
    std::optional<size_t> line;
    if (profile && (line = profile->FindKey(section, key))) value = profile->lines[*line].Value();
    size_t copied = std::min(value.size(), bufferSize - 1);
    if (copied > 0) std::memcpy(buffer, value.data(), copied);
    buffer[copied] = '\0';
    return copied;
}

std::string ReadPrivateProfileString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue, size_t bufferSize,
                                     std::string_view iniPath) {
    std::vector<char> buffer(std::max<size_t>(bufferSize, 1));
    size_t copied =
        GetPrivateProfileString(section, key, defaultValue, buffer.data(), bufferSize, iniPath);
    return std::string(buffer.data(), copied);
}

std::vector<std::pair<std::string, std::string>>
GetPrivateProfileSection(std::string_view section, std::string_view iniPath) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::optional<Profile> profile = LoadProfile(ToNativePath(iniPath));
    if (!profile) return entries;
    auto range = profile->FindSection(section);
    if (!range) return entries;
    for (size_t i = range->first; i < range->second; ++i) {
        const Line& line = profile->lines[i];
        if (line.IsKey()) entries.emplace_back(line.Key(), line.Value());
    }
    return entries;
}

void WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view iniPath) {
    ChangeProfile(section, key, iniPath, [&](Profile& profile) {
        const std::string text = StoredValue(value);
        if (auto line = profile.FindKey(section, key)) {
            Line& existing = profile.lines[*line];
            existing.text = std::string(existing.Key()) + "=" + text;
            return true;
        }
        const Line entry{std::string(Trim(key)) + "=" + text};
        if (auto range = profile.FindSection(section)) {
            profile.lines.insert(profile.lines.begin() + InsertionPoint(profile, *range), entry);
            return true;
        }
        profile.lines.push_back({"[" + std::string(Trim(section)) + "]"});
        profile.lines.push_back(entry);
        return true;
    });
}

void DeletePrivateProfileKey(std::string_view section, std::string_view key,
                             std::string_view iniPath) {
    ChangeProfile(section, key, iniPath, [&](Profile& profile) {
        auto line = profile.FindKey(section, key);
        if (!line) return false;
        profile.lines.erase(profile.lines.begin() + *line);
        return true;
    });
}

} // namespace dvl::platform
