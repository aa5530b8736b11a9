// UU-, XX- and base64-encoded files in text, as the lister and the extraction
// layer read them: a "begin MODE NAME" (or "begin-base64 MODE NAME") line,
// encoded lines, then "end" (or "====").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dvl::formats {

struct UueBegin {
    bool base64 = false;
    uint32_t mode = 0644;
    std::string name; // trimmed of blanks and control characters, unconverted
};

// Reads a begin line (without its line end); false when it is none.
bool ParseUueBegin(std::string_view line, UueBegin& begin);
// The name of the first begin line in the text; empty when there is none.
std::string FirstUueName(std::string_view text);

enum class UueLine { Data, End, Bad };

// Decodes one line of a section into `out` (appended). `alphabet` is chosen
// by the section's first line: UU or XX.
enum class UueAlphabet { Uu, Xx };
UueAlphabet GuessUueAlphabet(std::string_view firstLine);
UueLine DecodeUueLine(std::string_view line, UueAlphabet alphabet, std::string& out);
UueLine DecodeBase64Line(std::string_view line, std::string& out);

} // namespace dvl::formats
