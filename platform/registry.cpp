#include "platform/registry.h"

#include "platform/atomic_write.h"
#include "platform/xdg_dirs.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <utility>

namespace dvl::platform {

namespace {

constexpr const char* kHiveFileName = "registry.txt";
constexpr const char* kHiveHeader = "; Dovrel registry hive (HKEY_CLASSES_ROOT), format 1\n";

struct Key {
    std::string name;
    std::optional<std::string> defaultValue;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::unique_ptr<Key>> subKeys;
};

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

// Splits a key path into its components; false for an empty component inside.
bool SplitKeyPath(std::string_view path, std::vector<std::string>& parts) {
    parts.clear();
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string_view part =
            path.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty()) return false;
        parts.emplace_back(part);
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

Key* FindSubKey(const Key& parent, std::string_view name) {
    for (const auto& sub : parent.subKeys)
        if (SameName(sub->name, name)) return sub.get();
    return nullptr;
}

Key* FindKey(Key& root, const std::vector<std::string>& parts) {
    Key* key = &root;
    for (const std::string& part : parts)
        if ((key = FindSubKey(*key, part)) == nullptr) return nullptr;
    return key;
}

Key* FindOrAddSubKey(Key& parent, const std::string& name) {
    if (Key* existing = FindSubKey(parent, name)) return existing;
    parent.subKeys.push_back(std::make_unique<Key>());
    parent.subKeys.back()->name = name;
    return parent.subKeys.back().get();
}

// --- The text form -----------------------------------------------------------

bool NeedsEscape(unsigned char c, bool inValueName) {
    return c < 0x20 || c == 0x7F || c == '%' || (inValueName && c == '"');
}

std::string Escape(std::string_view text, bool inValueName = false) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (!NeedsEscape(c, inValueName)) {
            out += ch;
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A "%" that is not followed by two hex digits stands for itself.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = HexDigit(text[i + 1]);
            int low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += char(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

void SetNamedValue(Key& key, std::string name, std::string value) {
    for (auto& [existing, text] : key.values)
        if (SameName(existing, name)) {
            text = std::move(value);
            return;
        }
    key.values.emplace_back(std::move(name), std::move(value));
}

void ParseValueLine(Key& key, std::string_view line) {
    if (line.starts_with("@=")) {
        key.defaultValue = Unescape(line.substr(2));
        return;
    }
    size_t close = line.find("\"=", 1);
    if (!line.starts_with('"') || close == std::string_view::npos) return;
    std::string name = Unescape(line.substr(1, close - 1));
    if (name.empty()) return;
    SetNamedValue(key, std::move(name), Unescape(line.substr(close + 2)));
}

Key ParseHive(std::string_view text) {
    Key root;
    Key* current = nullptr;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::vector<std::string> parts;
            current = nullptr;
            if (!SplitKeyPath(line.substr(1, line.size() - 2), parts) || parts.empty()) continue;
            current = &root;
            for (std::string& part : parts)
                current = FindOrAddSubKey(*current, Unescape(part));
        } else if (current != nullptr) {
            ParseValueLine(*current, line);
        }
    }
    return root;
}

void WriteKey(const Key& key, const std::string& path, std::string& out) {
    out += "\n[" + path + "]\n";
    if (key.defaultValue) out += "@=" + Escape(*key.defaultValue) + "\n";
    for (const auto& [name, value] : key.values)
        out += "\"" + Escape(name, true) + "\"=" + Escape(value) + "\n";
    for (const auto& sub : key.subKeys)
        WriteKey(*sub, path + "\\" + Escape(sub->name), out);
}

std::string FormatHive(const Key& root) {
    std::string out = kHiveHeader;
    for (const auto& sub : root.subKeys)
        WriteKey(*sub, Escape(sub->name), out);
    return out;
}

// --- Loading and saving --------------------------------------------------------

bool PathExists(const std::string& nativePath) {
    struct stat st {};
    return ::lstat(nativePath.c_str(), &st) == 0;
}

// A missing hive is empty; one that exists but can't be read yields nothing,
// so that no change is ever written over content we could not see.
std::optional<Key> LoadHive(const std::string& hiveFile) {
    std::string text;
    if (ReadWholeFile(hiveFile, text)) return ParseHive(text);
    if (PathExists(hiveFile)) return std::nullopt;
    return Key{};
}

Key LoadHiveForReading(const std::string& hiveFile) {
    std::optional<Key> root = LoadHive(hiveFile);
    return root ? std::move(*root) : Key{};
}

std::string FolderOf(const std::string& nativePath) {
    size_t slash = nativePath.rfind('/');
    return slash == std::string::npos ? std::string(".") : nativePath.substr(0, slash);
}

bool SaveHive(const std::string& hiveFile, const Key& root) {
    return CreateNativeFolders(FolderOf(hiveFile)) &&
           WriteFileAtomically(hiveFile, FormatHive(root));
}

} // namespace

std::string ClassesRootHiveFile() {
    const char* folder = std::getenv("DOVREL_REGISTRY");
    if (folder != nullptr && folder[0] != '\0') return std::string(folder) + "/" + kHiveFileName;
    return UserConfigFolder() + "/dovrel/" + kHiveFileName;
}

ClassesRoot::ClassesRoot(std::string hiveFile) : hiveFile_(std::move(hiveFile)) {}

bool ClassesRoot::KeyExists(std::string_view key) const {
    std::vector<std::string> parts;
    if (!SplitKeyPath(key, parts)) return false;
    Key root = LoadHiveForReading(hiveFile_);
    return FindKey(root, parts) != nullptr;
}

void ClassesRoot::CreateKey(std::string_view key) {
    const RegistryError failure("Failed to create key " + std::string(key));
    std::vector<std::string> parts;
    if (!SplitKeyPath(key, parts)) throw failure;
    std::optional<Key> root = LoadHive(hiveFile_);
    if (!root) throw failure;
    if (FindKey(*root, parts) != nullptr) return;
    Key* current = &*root;
    for (const std::string& part : parts)
        current = FindOrAddSubKey(*current, part);
    if (!SaveHive(hiveFile_, *root)) throw failure;
}

void ClassesRoot::SetValue(std::string_view key, std::string_view name, std::string_view value) {
    const RegistryError failure("Failed to set data for '" +
                                std::string(name.empty() ? key : name) + "'");
    std::vector<std::string> parts;
    if (!SplitKeyPath(key, parts) || parts.empty()) throw failure;
    std::optional<Key> root = LoadHive(hiveFile_);
    if (!root) throw failure;
    Key* target = FindKey(*root, parts);
    if (target == nullptr) throw failure;
    if (name.empty())
        target->defaultValue = std::string(value);
    else
        SetNamedValue(*target, std::string(name), std::string(value));
    if (!SaveHive(hiveFile_, *root)) throw failure;
}

std::optional<std::string> ClassesRoot::ReadValue(std::string_view key,
                                                  std::string_view name) const {
    std::vector<std::string> parts;
    if (!SplitKeyPath(key, parts)) return std::nullopt;
    Key root = LoadHiveForReading(hiveFile_);
    const Key* target = FindKey(root, parts);
    if (target == nullptr) return std::nullopt;
    if (name.empty()) return target->defaultValue;
    for (const auto& [existing, text] : target->values)
        if (SameName(existing, name)) return text;
    return std::nullopt;
}

bool ClassesRoot::DeleteKey(std::string_view key) {
    std::vector<std::string> parts;
    if (!SplitKeyPath(key, parts) || parts.empty()) return false;
    std::optional<Key> root = LoadHive(hiveFile_);
    if (!root) return false;
    const std::string leaf = parts.back();
    parts.pop_back();
    Key* parent = FindKey(*root, parts);
    if (parent == nullptr) return false;
    auto& siblings = parent->subKeys;
    auto found = std::find_if(siblings.begin(), siblings.end(),
                              [&](const auto& sub) { return SameName(sub->name, leaf); });
    if (found == siblings.end()) return false;
    siblings.erase(found);
    return SaveHive(hiveFile_, *root);
}

std::vector<std::string> ClassesRoot::SubKeyNames(std::string_view key) const {
    std::vector<std::string> parts;
    std::vector<std::string> names;
    if (!SplitKeyPath(key, parts)) return names;
    Key root = LoadHiveForReading(hiveFile_);
    if (const Key* target = FindKey(root, parts))
        for (const auto& sub : target->subKeys)
            names.push_back(sub->name);
    return names;
}

} // namespace dvl::platform
