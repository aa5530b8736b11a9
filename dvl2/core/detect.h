// Start-up helpers: the format tag of a file, the volume count and the
// folder enumeration the back ends share. Paths are Windows form.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvl::dvl2 {

// "RAR", "ACE", "ZIP", "ARJ", "LHA" or empty, from the first 16 bytes; a read
// past the end gives character 26. nullopt when the file cannot be read
// (errorText then holds the system's message).
std::optional<std::string> DetectFormat(const std::string& path, std::string* errorText = nullptr);
// The same decision on bytes already read (at most 16 are looked at).
std::string DetectFormatOfHead(std::string_view head);

// The path with "\" appended unless it ends with one; empty gives "\".
std::string WithBackslash(std::string_view path);

// The plain, not hidden files of a folder that match a mask, sorted ignoring
// case (the hidden file list of the main window).
std::vector<std::string> ListPlainFiles(const std::string& folder, const std::string& mask);

// Files of the folder named like the archive without its last 4 characters,
// followed by ".*". Also makes the folder the current one, which is where a
// back end given an empty destination writes.
int CountVolumes(const std::string& folder, const std::string& archiveFileName);

// The name without its last 4 characters ("docs.zip" -> "docs").
std::string NameWithoutLast4(const std::string& fileName);

// The first three characters of the name followed by "*.zip".
std::string SiblingMask(const std::string& archiveFileName);

} // namespace dvl::dvl2
