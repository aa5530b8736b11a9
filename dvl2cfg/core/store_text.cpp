#include "dvl2cfg/core/store_text.h"

#include <algorithm>

namespace dvl::dvl2cfg {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

} // namespace

std::string UpperCaseAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), UpperAscii);
    return out;
}

std::string LowerCaseAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

std::string WithTrailingBackslash(std::string_view folder) {
    std::string out(folder);
    if (out.empty() || out.back() != '\\') out += '\\';
    return out;
}

} // namespace dvl::dvl2cfg
