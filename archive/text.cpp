#include "archive/text.h"

#include "platform/codepage.h"
#include "platform/paths.h"

#include <charconv>

namespace dvl {

namespace {

size_t LastDelimiter(std::string_view path) {
    return path.find_last_of("\\:");
}

} // namespace

std::string SlashToBackslash(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string AddBackslash(std::string_view text) {
    std::string out(text);
    if (!out.empty() && out.back() != '\\') out += '\\';
    return out;
}

std::string ExtractFilePath(std::string_view path) {
    size_t p = LastDelimiter(path);
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileName(std::string_view path) {
    size_t p = LastDelimiter(path);
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ExtractFileDir(std::string_view path) {
    std::string dir = ExtractFilePath(path);
    // Keep the root of "\x" and "C:\x" as a folder of its own.
    if (dir.size() > 1 && dir.back() == '\\' && dir[dir.size() - 2] != ':') dir.pop_back();
    return dir;
}

std::string ExtractFileExt(std::string_view path) {
    std::string name = ExtractFileName(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string UpperCaseAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return out;
}

std::string_view TrimmedBlanks(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string OemToAnsiName(std::string_view name) {
    return SlashToBackslash(platform::OemToAnsi(name));
}

std::string AnsiToOemName(std::string_view name) {
    return SlashToBackslash(platform::AnsiToOem(name));
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = uint8_t(text[i]);
        size_t length = lead < 0x80   ? 1
                        : lead < 0xC2 ? 0
                        : lead < 0xE0 ? 2
                        : lead < 0xF0 ? 3
                        : lead < 0xF5 ? 4
                                      : 0;
        if (length == 0 || i + length > text.size()) return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto b = uint8_t(text[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            code = (code << 6) | (b & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode.
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string VisibleName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '\0')
            out += "\u2400";
        else
            out += c;
    }
    return out;
}

uint32_t OctalValue(std::string_view text) {
    uint32_t value = 0;
    for (char c : text)
        if (c >= '0' && c <= '7') value = value * 8 + uint32_t(c - '0');
    return value;
}

bool HasWildcards(std::string_view text) {
    return text.find_first_of("*?") != text.npos;
}

bool NameExists(std::string_view path) {
    return platform::NameExists(path);
}

bool TryParseInt(std::string_view text, int32_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    int32_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    value = v;
    return true;
}

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool HasDrivePrefix(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

} // namespace

std::string ConfinedRelativePath(std::string_view name) {
    if (HasDrivePrefix(name)) name.remove_prefix(2);
    std::string path;
    size_t start = 0;
    while (start < name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!path.empty()) path += '\\';
            path += part;
        }
        start = end + 1;
    }
    return path;
}

} // namespace dvl
