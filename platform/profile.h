// The private-profile (INI file) functions.
//
// An INI file is a list of lines: "[section]" lines, "key=value" lines and
// anything else (comments, blank lines), which is kept as it stands. Section
// and key names are compared ignoring ASCII case; blanks around names and
// values are not part of them. The first section and the first key of a name
// count. Every write rewrites the file atomically and preserves all other
// lines, their order and their line endings. A value in matching quotes reads
// without them; a write quotes a value whose outer blanks or quotes would
// otherwise be lost. Paths are Windows form.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dvl::platform {

class ProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Copies the value of the key (or the default when the file, the section or
// the key is missing) into the buffer, truncated to bufferSize - 1 characters
// and terminated; returns the number of characters copied. A buffer of size 0
// receives nothing.
size_t GetPrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, char* buffer, size_t bufferSize,
                               std::string_view iniPath);
// The same through a buffer of bufferSize characters, as a string.
std::string ReadPrivateProfileString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue, size_t bufferSize,
                                     std::string_view iniPath);

// The keys and values of a section in file order; empty when it is missing.
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(std::string_view section,
                                                                          std::string_view iniPath);

// Sets the key, creating the file (not its folder), the section and the key
// as needed. Line breaks in the value become spaces so that a value can't add
// lines. Throws ProfileError "Unable to write to <path>" (the native path)
// when the file can't be written or the names can't be stored.
void WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view iniPath);
// Removes the key; a missing key (or file) is left alone. Throws like a write.
void DeletePrivateProfileKey(std::string_view section, std::string_view key,
                             std::string_view iniPath);

} // namespace dvl::platform
