#include "archive/formats/uue.h"

#include "archive/text.h"

#include <algorithm>
#include <array>

namespace dvl::formats {

namespace {

constexpr std::string_view kBegin = "begin ", kBeginBase64 = "begin-base64 ";
constexpr std::string_view kXxAlphabet =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of a character, or -1.
std::array<int8_t, 256> Table(std::string_view alphabet) {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (size_t i = 0; i < alphabet.size(); ++i)
        table[uint8_t(alphabet[i])] = int8_t(i);
    return table;
}

int UuValue(char c) {
    const auto u = uint8_t(c);
    if (u < 0x20 || u > 0x60) return -1;
    return (u - 0x20) & 0x3F; // "`" stands for 0 as a blank does
}

} // namespace

bool ParseUueBegin(std::string_view line, UueBegin& begin) {
    std::string_view rest;
    if (line.substr(0, kBeginBase64.size()) == kBeginBase64) {
        begin.base64 = true;
        rest = line.substr(kBeginBase64.size());
    } else if (line.substr(0, kBegin.size()) == kBegin) {
        begin.base64 = false;
        rest = line.substr(kBegin.size());
    } else {
        return false;
    }
    const size_t blank = rest.find(' '); // ends the mode
    if (blank == std::string_view::npos) return false;
    uint32_t mode = 0;
    for (char c : rest.substr(0, blank))
        if (c >= '0' && c <= '7') mode = (mode * 8 + uint32_t(c - '0')) & 07777;
    begin.mode = mode;
    begin.name = std::string(TrimmedBlanks(rest.substr(blank + 1)));
    return !begin.name.empty();
}

std::string FirstUueName(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t lineEnd = std::min(text.find_first_of("\r\n", at), text.size());
        UueBegin begin;
        // Only the plain form is looked for here, as listings always did.
        if (text.compare(at, kBegin.size(), kBegin) == 0 &&
            ParseUueBegin(text.substr(at, lineEnd - at), begin))
            return begin.name;
        if (text.compare(at, kBegin.size(), kBegin) == 0) return {};
        const size_t feed = text.find('\n', at);
        if (feed == std::string_view::npos) break;
        at = feed + 1;
    }
    return {};
}

UueAlphabet GuessUueAlphabet(std::string_view firstLine) {
    static const std::array<int8_t, 256> xx = Table(kXxAlphabet);
    while (!firstLine.empty() && (firstLine.back() == '\r' || firstLine.back() == '\n'))
        firstLine.remove_suffix(1);
    // A UU line uses characters from blank to "`" only; XX lines hold
    // lower-case letters (a full line starts with "h").
    const bool uuCharacters = std::all_of(firstLine.begin(), firstLine.end(), [](char c) {
        return uint8_t(c) >= 0x20 && uint8_t(c) <= 0x60;
    });
    if (!uuCharacters) return UueAlphabet::Xx;
    // A short XX line may hold only upper-case letters and digits: its length
    // character then tells, as only one alphabet makes it match the line.
    const auto fits = [&](int length) {
        return length >= 0 && firstLine.size() - 1 == size_t((length + 2) / 3 * 4);
    };
    if (!firstLine.empty() && fits(xx[uint8_t(firstLine[0])]) && !fits(UuValue(firstLine[0])))
        return UueAlphabet::Xx;
    return UueAlphabet::Uu;
}

UueLine DecodeUueLine(std::string_view line, UueAlphabet alphabet, std::string& out) {
    static const std::array<int8_t, 256> xx = Table(kXxAlphabet);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (TrimmedBlanks(line) == "end") return UueLine::End;
    if (line.empty()) return UueLine::Data;
    const auto value = [&](char c) {
        return alphabet == UueAlphabet::Uu ? UuValue(c) : int(xx[uint8_t(c)]);
    };
    const int length = value(line[0]);
    if (length < 0) return UueLine::Bad;
    // Trailing blanks that mailers cut stand for zeros.
    std::string chars(line.substr(1));
    const size_t needed = size_t((length + 2) / 3 * 4);
    if (chars.size() < needed)
        chars.append(needed - chars.size(), alphabet == UueAlphabet::Uu ? '`' : '+');
    int produced = 0;
    for (size_t i = 0; produced < length; i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k)
            if ((v[k] = value(chars[i + size_t(k)])) < 0) return UueLine::Bad;
        const uint8_t bytes[3] = {uint8_t(v[0] << 2 | v[1] >> 4), uint8_t(v[1] << 4 | v[2] >> 2),
                                  uint8_t(v[2] << 6 | v[3])};
        for (int k = 0; k < 3 && produced < length; ++k, ++produced)
            out += char(bytes[k]);
    }
    return UueLine::Data;
}

UueLine DecodeBase64Line(std::string_view line, std::string& out) {
    static const std::array<int8_t, 256> table = Table(kBase64Alphabet);
    line = TrimmedBlanks(line);
    if (line == "====") return UueLine::End;
    uint32_t bits = 0;
    int count = 0;
    for (char c : line) {
        if (c == '=') break;
        const int v = table[uint8_t(c)];
        if (v < 0) return UueLine::Bad;
        bits = (bits << 6) | uint32_t(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return UueLine::Data;
}

} // namespace dvl::formats
