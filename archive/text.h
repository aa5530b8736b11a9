// Text helpers for Windows-form names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dvl {

std::string SlashToBackslash(std::string_view text);
// Appends "\" unless the text already ends with one; empty stays empty.
std::string AddBackslash(std::string_view text);
// Up to and including the last "\" or ":"; empty when there is none.
std::string ExtractFilePath(std::string_view path);
// After the last "\" or ":".
std::string ExtractFileName(std::string_view path);
// The path without its last component and without a trailing "\".
std::string ExtractFileDir(std::string_view path);
// From the last "." of the name part to the end, the dot included.
std::string ExtractFileExt(std::string_view path);
std::string UpperCaseAscii(std::string_view text);
// A stored member path made safe to append to a destination folder: both
// separators count; a drive prefix, leading separators and empty, "." and
// ".." components are dropped. "\" separated; empty when nothing is left.
std::string ConfinedRelativePath(std::string_view name);

// The text without the blanks and control characters (zero bytes too) at
// its ends.
std::string_view TrimmedBlanks(std::string_view text);

// Code-page conversion of a stored entry name, then "/" -> "\".
std::string OemToAnsiName(std::string_view name);
std::string AnsiToOemName(std::string_view name);
// True when the text is well-formed UTF-8 (plain ASCII is).
bool IsValidUtf8(std::string_view text);
// Appends a code point as UTF-8 (U+FFFD for a surrogate or a value past U+10FFFF).
void AppendUtf8(std::string& out, uint32_t c);
// A converted name as rows show it: each zero byte as the visible "\u2400",
// so that a name that is cut there, or holds nothing else, can be named.
std::string VisibleName(std::string_view name);

// Every character "0" to "7" is a digit; all others are skipped.
uint32_t OctalValue(std::string_view text);
// Exchanges the two 16-bit halves of a 32-bit value.
constexpr uint32_t SwapHalves(uint32_t v) {
    return (v << 16) | (v >> 16);
}

bool HasWildcards(std::string_view text);
// True when a directory search finds the name (a file or a folder).
bool NameExists(std::string_view path);

// Decimal integer with an optional sign, nothing else; false when it isn't one
// or does not fit 32 bits.
bool TryParseInt(std::string_view text, int32_t& value);

} // namespace dvl
