// Small text helpers of the association store.
#pragma once

#include <string>
#include <string_view>

namespace dvl::dvl2cfg {

std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// Appends "\" unless the text already ends with one.
std::string WithTrailingBackslash(std::string_view folder);

} // namespace dvl::dvl2cfg
