// The registry keys under HKEY_CLASSES_ROOT, kept in a hive file of ours.
//
// Key names are compared ignoring ASCII case and keep the spelling they were
// created with; a key path names its components separated by "\" (leading
// and trailing "\" are ignored, an empty component makes the path invalid).
// A key holds an optional default (unnamed) string value, named string values
// and subkeys. Every change is written to the hive file at once and
// atomically, so a crash leaves the previous or the new hive, never a mix.
//
// The hive file is "registry.txt" in the folder $DOVREL_REGISTRY names, else
// in $XDG_CONFIG_HOME/dovrel/ (default ~/.config/dovrel/). It is UTF-8 text,
// one item a line:
//
//   ; comment (only at the top; written as a header)
//   [DVL.Document\Shell\Open]      a key: its full path
//   @=text                         the default value of the key above
//   "name"=text                    a named value of the key above
//
// Every key has its own bracket line, parents before their subkeys, so keys
// without values survive. In key names, value names and texts the bytes
// 0x00-0x1F, 0x7F and "%" are written as "%" and two upper-case hex digits;
// value names also escape '"'. Lines that fit none of the forms are ignored.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::platform {

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Native path of the hive file (its folder need not exist yet).
std::string ClassesRootHiveFile();

class ClassesRoot {
public:
    explicit ClassesRoot(std::string hiveFile = ClassesRootHiveFile());

    const std::string& HiveFile() const { return hiveFile_; }

    // True when the key exists (and can therefore be opened).
    bool KeyExists(std::string_view key) const;
    // Creates the key with its missing parents; an existing key is left as it
    // is. Throws RegistryError "Failed to create key <key>" when the path is
    // invalid or the hive can't be written.
    void CreateKey(std::string_view key);
    // Sets a string value of an existing key; an empty name is the default
    // value. Throws RegistryError "Failed to set data for '<name>'" when the
    // key is missing or the hive can't be written; for the default value the
    // name shown is the key's path, which says more than an empty name.
    void SetValue(std::string_view key, std::string_view name, std::string_view value);
    // The value, or nothing when the key or the value does not exist.
    std::optional<std::string> ReadValue(std::string_view key, std::string_view name) const;
    // Deletes the key with all its subkeys; false when it does not exist or
    // the hive can't be written.
    bool DeleteKey(std::string_view key);
    // Names of the direct subkeys in creation order; the empty path lists the
    // top-level keys.
    std::vector<std::string> SubKeyNames(std::string_view key) const;

private:
    std::string hiveFile_;
};

} // namespace dvl::platform
